// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The installer and remover dialogs offscreen on a fixture APT universe of Debian's real
// driver packages (harness/apt-transaction.sh builds it from fixtures/apt/debian-bookworm.txt
// and mounts its dpkg file lists at /var/lib/dpkg/info), with the fixture AppStream catalogue
// and id lists, a Secure Boot state of the test's choosing and a helper that only records.
#include "dialoganswerer.h"
#include "driverpackagedialogs.h"
#include "widgetlookup.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace
{
const QString rtx3060 = QStringLiteral("pci:v000010DEd00002504sv00001462sd0000397Dbc03sc00i00");
const QString fermi = QStringLiteral("pci:v000010DEd00001200sv00001043sd00008370bc03sc00i00");
const QString amd = QStringLiteral("pci:v00001002d0000731Fsv00001458sd00002313bc03sc00i00");
const QString intel = QStringLiteral("pci:v00008086d00005917sv00001043sd00001A00bc03sc00i00");
const QString release = QStringLiteral("6.1.0-18-amd64");

struct Sent {
    QString action;
    QVariantMap args;
};

// What the dialog showed when it came up, and then one button pressed.
struct Seen {
    bool shown = false;
    QString title;
    QString label;
    QStringList items;
    QStringList toolTips;
    QString note;
};

// Runs the dialog's exec(); when it shows, records it, lets prepare() act on it and presses
// the given button.
template<typename Dialog>
int runDialog(Dialog &dialog, Seen &seen, QDialogButtonBox::StandardButton press, const std::function<void(Dialog &)> &prepare = {})
{
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, &dialog, [&] {
        if (QApplication::activeModalWidget() != &dialog || seen.shown) {
            return;
        }
        seen.shown = true;
        seen.title = dialog.windowTitle();
        seen.label = dialog.template findChild<QLabel *>(QStringLiteral("driverLabel"))->text();
        auto *box = dialog.template findChild<QComboBox *>(QStringLiteral("driverBox"));
        for (int i = 0; i < box->count(); ++i) {
            seen.items << box->itemText(i);
            seen.toolTips << box->itemData(i, Qt::ToolTipRole).toString();
        }
        auto *note = dialog.template findChild<QLabel *>(QStringLiteral("noteLabel"));
        seen.note = note->isVisibleTo(&dialog) ? note->text() : QString();
        if (prepare) {
            prepare(dialog);
        }
        dialog.template findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(press)->click();
    });
    poll.start();
    return dialog.exec();
}
}

class PackageDialogsTest : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_src;
    QList<Sent> m_sent;
    bool m_actionSucceeds = true;
    int m_reboots = 0;
    QStringList m_information;
    QStringList m_errors;
    SecureBoot::State m_secureBoot = SecureBoot::State::Off;
    bool m_idLists = true;

    PackageDialogServices services()
    {
        PackageDialogServices s;
        s.locations.idListDir = m_idLists ? QFINDTESTDATA("../fixtures/drivers/nvidia") : m_src.filePath("no-lists");
        s.locations.appStreamDirs = QStringList{QFINDTESTDATA("../fixtures/drivers/swcatalog")};
        s.locations.appStreamCacheDir = m_src.filePath("appstream-cache");
        s.dkmsSourceRoot = m_src.path();
        s.kernelRelease = release;
        s.signingKey = QStringLiteral("/var/lib/dkms/mok.pub");
        s.secureBoot = [this] {
            return m_secureBoot;
        };
        s.runAction = [this](const QString &action, const QVariantMap &args, QWidget *) {
            m_sent.append({action, args});
            return m_actionSucceeds;
        };
        s.rebootPrompt = [this] {
            ++m_reboots;
        };
        s.showInformation = [this](const QString &text, QWidget *) {
            m_information << text;
        };
        s.showError = [this](const QString &text, QWidget *) {
            m_errors << text;
        };
        return s;
    }

    static bool appendRecord(const QString &package, const QString &path)
    {
        QFile list(QStringLiteral("/var/lib/dpkg/info/%1.list").arg(package));
        return list.open(QIODevice::Append) && list.write(path.toUtf8() + '\n') > 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("APT_TXN_DIR"), "run through autotests/harness/apt-transaction.sh");
        QVERIFY(QFileInfo::exists(QStringLiteral("/var/lib/dpkg/info/nvidia-kernel-dkms.list")));
        // dpkg's records as on a merged-/usr Debian: module files under /lib, the DKMS source
        // folder of the proprietary modules.
        QVERIFY(appendRecord(QStringLiteral("xserver-xorg-video-amdgpu"),
                             QStringLiteral("/lib/modules/%1/kernel/drivers/gpu/drm/amd/amdgpu/amdgpu.ko").arg(release)));
        QVERIFY(QDir(m_src.path()).mkpath(QStringLiteral("nvidia-current-535.309.01")));
        QVERIFY(appendRecord(QStringLiteral("nvidia-kernel-dkms"), m_src.filePath(QStringLiteral("nvidia-current-535.309.01"))));
    }

    void init()
    {
        m_sent.clear();
        m_information.clear();
        m_errors.clear();
        m_reboots = 0;
        m_actionSucceeds = true;
        m_secureBoot = SecureBoot::State::Off;
        m_idLists = true;
    }

    void installerNvidia()
    {
        DriverInstaller dialog(rtx3060, Nvidia, nullptr, services());
        Seen seen;
        runDialog<DriverInstaller>(dialog, seen, QDialogButtonBox::Ok);
        QVERIFY(seen.shown);
        QCOMPARE(seen.title, QStringLiteral("Driver Installation"));
        QCOMPARE(seen.label, QStringLiteral("Choose a driver to install:"));
        // The open modules are not offered: their version differs from the driver's.
        QCOMPARE(seen.items, QStringList({QStringLiteral("nvidia-driver (Recommended, Installed)"), QStringLiteral("nvidia-tesla-470-driver (Installed)")}));
        QVERIFY2(seen.toolTips.value(1).startsWith(QStringLiteral("470.256.2 (Installed)\nA proprietary NVIDIA graphics driver.\nThis driver has")),
                 qPrintable(seen.toolTips.value(1)));
        QCOMPARE(seen.note, QString());
        QCOMPARE(m_sent.size(), 1);
        QCOMPARE(m_sent.first().action, QStringLiteral("install"));
        // A DKMS driver brings the running kernel's headers into the same transaction.
        QCOMPARE(m_sent.first().args.value(QStringLiteral("drivers")).toStringList(),
                 QStringList({QStringLiteral("nvidia-driver"), QStringLiteral("linux-headers-6.1.0-18-amd64")}));
        QCOMPARE(m_reboots, 1);
        QVERIFY(m_information.isEmpty());
    }

    void installerOutcome_data()
    {
        QTest::addColumn<int>("secureBoot");
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<bool>("warned");
        QTest::addColumn<bool>("steps");
        QTest::addColumn<int>("reboots");
        QTest::newRow("key not enrolled, success") << int(SecureBoot::State::KeyNotEnrolled) << true << true << true << 1;
        QTest::newRow("key not enrolled, failure") << int(SecureBoot::State::KeyNotEnrolled) << false << true << false << 0;
        QTest::newRow("key enrolled") << int(SecureBoot::State::KeyEnrolled) << true << false << false << 1;
        QTest::newRow("no mokutil") << int(SecureBoot::State::NoTool) << true << false << false << 1;
    }
    void installerOutcome()
    {
        QFETCH(int, secureBoot);
        QFETCH(bool, succeeds);
        QFETCH(bool, warned);
        QFETCH(bool, steps);
        QFETCH(int, reboots);
        m_secureBoot = SecureBoot::State(secureBoot);
        m_actionSucceeds = succeeds;
        DriverInstaller dialog(rtx3060, Nvidia, nullptr, services());
        Seen seen;
        runDialog<DriverInstaller>(dialog, seen, QDialogButtonBox::Ok);
        QCOMPARE(seen.note.contains(QStringLiteral("Secure Boot is on")), warned);
        QCOMPARE(m_sent.size(), 1);
        QCOMPARE(m_information.size(), steps ? 1 : 0);
        if (steps) {
            QVERIFY2(m_information.first().contains(QStringLiteral("mokutil --import /var/lib/dkms/mok.pub")), qPrintable(m_information.first()));
        }
        QCOMPARE(m_reboots, reboots);
    }

    void installerWithoutIdLists()
    {
        m_idLists = false;
        DriverInstaller dialog(rtx3060, Nvidia, nullptr, services());
        Seen seen;
        runDialog<DriverInstaller>(dialog, seen, QDialogButtonBox::Cancel);
        QCOMPARE(seen.items, QStringList({QStringLiteral("nvidia-driver (Recommended, Installed)"), QStringLiteral("nvidia-tesla-470-driver (Installed)")}));
        QVERIFY2(seen.note.contains(QStringLiteral("nvidia-detect")), qPrintable(seen.note));
        QVERIFY(m_sent.isEmpty());
        QCOMPARE(m_reboots, 0);
    }

    void installerOtherVendor()
    {
        DriverInstaller dialog(intel, Intel, nullptr, services());
        Seen seen;
        runDialog<DriverInstaller>(dialog, seen, QDialogButtonBox::Ok);
        // The i915 firmware, tied to the adapter by AppStream only; no headers for firmware.
        QCOMPARE(seen.items, QStringList({QStringLiteral("firmware-misc-nonfree")}));
        QCOMPARE(m_sent.size(), 1);
        QCOMPARE(m_sent.first().args.value(QStringLiteral("drivers")).toStringList(), QStringList{QStringLiteral("firmware-misc-nonfree")});
        QCOMPARE(m_reboots, 1);
    }

    void installerAllInstalled()
    {
        // Both packages for the adapter (AppStream firmware, Modaliases X driver) are installed.
        DialogAnswerer answerer(DialogAnswerer::EveryDialog);
        DriverInstaller dialog(amd, Amd, nullptr, services());
        QCOMPARE(dialog.exec(), 0);
        QCOMPARE(answerer.shownTexts(), QStringList{QStringLiteral("No new compatible drivers detected")});
        QVERIFY(m_sent.isEmpty());
    }

    void installerNothingToOffer()
    {
        DialogAnswerer answerer(DialogAnswerer::EveryDialog);
        DriverInstaller dialog(fermi, Nvidia, nullptr, services());
        QCOMPARE(dialog.exec(), 0);
        QCOMPARE(answerer.seen.size(), 1);
        const QString text = answerer.seen.first().text;
        QVERIFY2(text.startsWith(QStringLiteral("No new compatible drivers detected")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("legacy-390xx")) && text.contains(QStringLiteral("nouveau")), qPrintable(text));
        QVERIFY(m_sent.isEmpty());
    }

    void installerChoiceVanished()
    {
        DriverInstaller dialog(intel, Intel, nullptr, services());
        Seen seen;
        // The package leaves the archive while the dialog is open.
        runDialog<DriverInstaller>(dialog, seen, QDialogButtonBox::Ok, [](DriverInstaller &d) {
            auto *box = d.findChild<QComboBox *>(QStringLiteral("driverBox"));
            box->setItemData(0, QStringLiteral("xserver-xorg-video-nonexistent"), Qt::UserRole);
        });
        QCOMPARE(seen.items.size(), 1);
        QVERIFY(m_sent.isEmpty());
        QCOMPARE(m_reboots, 0);
        QCOMPARE(m_errors.size(), 1);
        QVERIFY2(m_errors.constFirst().contains(QStringLiteral("xserver-xorg-video-nonexistent")), qPrintable(m_errors.constFirst()));
    }

    void remover_data()
    {
        QTest::addColumn<QString>("modulePath");
        QTest::addColumn<QStringList>("offered");
        const QString modules = QStringLiteral("/usr/lib/modules/") + release;
        QTest::newRow("no module") << QString()
                                   << QStringList{"firmware-amd-graphics", "nvidia-driver", "nvidia-tesla-470-driver", "xserver-xorg-video-amdgpu"};
        QTest::newRow("amdgpu recorded under /lib, in use under /usr/lib") << modules + QStringLiteral("/kernel/drivers/gpu/drm/amd/amdgpu/amdgpu.ko")
                                                                           << QStringList{"firmware-amd-graphics", "nvidia-driver", "nvidia-tesla-470-driver"};
        QTest::newRow("dkms nvidia-current through its source folder")
            << modules + QStringLiteral("/updates/dkms/nvidia-current.ko")
            << QStringList{"firmware-amd-graphics", "nvidia-tesla-470-driver", "xserver-xorg-video-amdgpu"};
    }
    void remover()
    {
        QFETCH(QString, modulePath);
        QFETCH(QStringList, offered);
        DriverRemover dialog(amd, modulePath, nullptr, services());
        Seen seen;
        runDialog<DriverRemover>(dialog, seen, QDialogButtonBox::Ok);
        QCOMPARE(seen.title, QStringLiteral("Driver Removal"));
        QCOMPARE(seen.label, QStringLiteral("Choose a driver to remove:"));
        QCOMPARE(seen.items, offered);
        QCOMPARE(m_sent.size(), 1);
        QCOMPARE(m_sent.first().action, QStringLiteral("remove"));
        QCOMPARE(m_sent.first().args.value(QStringLiteral("drivers")).toStringList(), QStringList{offered.first()});
        QCOMPARE(m_reboots, 1);
    }

    void removerCancel()
    {
        DriverRemover dialog(amd, QString(), nullptr, services());
        Seen seen;
        runDialog<DriverRemover>(dialog, seen, QDialogButtonBox::Cancel);
        QVERIFY(seen.shown);
        QVERIFY(m_sent.isEmpty());
        QCOMPARE(m_reboots, 0);
    }
};

QTEST_MAIN(PackageDialogsTest)
#include "packagedialogstest.moc"
