// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The advanced settings through the real helper on a private system bus, on a made-up Intel
// machine (autotests/harness/machine-on-bus.sh; options in CMakeLists.txt): the Intel page on
// the fixture /etc/default/grub, and the X server tearing variant, which the helper writes to
// /etc/X11/xorg.conf.d. The machine: an Intel UHD 620 on i915 whose X log tag is "modeset",
// X drivers modesetting and intel installed.
#include "../helper/fixturefs.h"
#include "device.h"
#include "helperclient.h"
#include "intelhardwareaccelerationpage.h"
#include "intelvideoconfigurator.h"
#include "tearingmanager.h"

#include "widgetlookup.h"

#include <KMessageWidget>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QProcess>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

namespace
{
const QString grub = QStringLiteral("/etc/default/grub");
const QString runs = QStringLiteral("/tmp/update-grub.runs");
const QString tearingSnippet = QStringLiteral("/etc/X11/xorg.conf.d/20-intel-tearing.conf");
const QString switchSnippet = QStringLiteral("/etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf");

QByteArray grubWith(const QByteArray &cmdline)
{
    return "# If you change this file, run update-grub afterwards.\nGRUB_DEFAULT=0\nGRUB_CMDLINE_LINUX_DEFAULT=\"" + cmdline + "\"\nGRUB_CMDLINE_LINUX=\"\"\n";
}

QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray tearingFile(const char *driver, const char *value)
{
    return QByteArray("Section \"Device\"\n    Identifier \"Intel Graphics\"\n    Driver \"") + driver + "\"\n    Option \"TearFree\" \"" + value
        + "\"\nEndSection\n";
}
}

class AdvancedBusTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_apt;
    Device m_intel;

    int updateGrubRuns() const
    {
        return read(runs).count('\n');
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!FixtureFs::insideFixtureNamespace()) {
            QFAIL("writes /etc/default/grub: run it only inside the fixture namespace (machine-on-bus.sh)");
        }
        // The packages acceleration needs are installed in the fixture universe.
        QProcess apt;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("APT_FIXTURE_INSTALLED"),
                   QStringLiteral("firmware-misc-nonfree intel-microcode intel-media-va-driver mesa-vulkan-drivers mesa-vdpau-drivers mesa-va-drivers"));
        apt.setProcessEnvironment(env);
        apt.start(QStringLiteral(HARNESS_DIR "/apt-fixture.sh"), {m_apt.path()});
        QVERIFY(apt.waitForFinished(60000));
        QCOMPARE(apt.exitCode(), 0);
        qputenv("APT_CONFIG", QFile::encodeName(m_apt.filePath(QStringLiteral("apt.conf"))));

        QVERIFY(FixtureFs::write(QStringLiteral("/usr/sbin/update-grub"),
                                 "#!/bin/sh\necho ran >>/tmp/update-grub.runs\n",
                                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));

        for (const Device &device : getGpus()) {
            if (device.videoCardVendorId() == VideoCardVendorId::Intel) {
                m_intel = device;
            }
        }
        QCOMPARE(m_intel.xorgDriver(), QStringLiteral("modeset"));
        m_intel.setActive(true);
    }

    void init()
    {
        QFile::remove(runs);
        QFile::remove(tearingSnippet);
        QFile::remove(switchSnippet);
    }

    // GuC mode 3 without compression: the box starts partial and unmodified; a click makes it
    // checked, and the save rewrites the command line through the helper.
    void intelSimpleMode()
    {
        QVERIFY(FixtureFs::write(grub, grubWith("quiet i915.enable_guc=3")));
        IntelHardwareAccelerationPage page({m_intel}, nullptr);
        auto *box = child<QCheckBox>(&page, "intelAccelChbox");
        QCOMPARE(box->checkState(), Qt::PartiallyChecked);
        QVERIFY(!page.isModified());
        QSignalSpy modified(&page, &ISettingsPage::modifiedChanged);
        box->click();
        QCOMPARE(box->checkState(), Qt::Checked);
        QVERIFY(page.isModified());
        QCOMPARE(modified.last().first().toBool(), true);

        const SaveResult result = page.saveSettings();
        QCOMPARE(result.message, QString());
        QCOMPARE(int(result.status), int(SaveStatus::SuccessRebootRequired));
        QCOMPARE(read(grub), grubWith("quiet i915.enable_guc=3 i915.enable_fbc=1"));
        QCOMPARE(updateGrubRuns(), 1);
        QVERIFY(!page.isModified());
    }

    // Expert mode: only the changed option is written, and switching the mode reports the
    // modified state of the page now shown.
    void intelExpertMode()
    {
        QVERIFY(FixtureFs::write(grub, grubWith("quiet i915.enable_guc=2 i915.enable_fbc=1")));
        IntelHardwareAccelerationPage page({m_intel}, nullptr);
        auto *combo = child<QComboBox>(&page, "gucModeComboBox");
        QCOMPARE(itemTexts(combo),
                 (QStringList{QStringLiteral("Disabled"),
                              QStringLiteral("Submission Only"),
                              QStringLiteral("Load Firmware Only"),
                              QStringLiteral("Full GuC + HuC")}));
        QCOMPARE(combo->currentIndex(), 2);
        QSignalSpy modified(&page, &ISettingsPage::modifiedChanged);
        child<QCheckBox>(&page, "expertModeChBox")->click();
        QCOMPARE(child<QStackedWidget>(&page, "stackedWidget")->currentIndex(), 1);
        QCOMPARE(modified.size(), 1);
        QCOMPARE(modified.last().first().toBool(), false);

        combo->setCurrentIndex(1);
        QVERIFY(page.isModified());
        QCOMPARE(int(page.saveSettings().status), int(SaveStatus::SuccessRebootRequired));
        QCOMPARE(read(grub), grubWith("quiet i915.enable_fbc=1 i915.enable_guc=1"));
        QCOMPARE(updateGrubRuns(), 1);
        QVERIFY(!page.isModified());

        // Reset after an unsaved change reports the page unmodified again.
        child<QCheckBox>(&page, "bufferComperessChBox")->setChecked(false);
        QVERIFY(page.isModified());
        page.reset();
        QVERIFY(child<QCheckBox>(&page, "bufferComperessChBox")->isChecked());
        QCOMPARE(modified.last().first().toBool(), false);

        // A mode the kernel does not define reads as "Disabled".
        QVERIFY(FixtureFs::write(grub, grubWith("quiet i915.enable_guc=7")));
        page.reset();
        QCOMPARE(combo->currentText(), QStringLiteral("Disabled"));
    }

    // Without an Intel adapter nothing can be changed and nothing counts as a change.
    void noIntel()
    {
        QVERIFY(FixtureFs::write(grub, grubWith("quiet i915.enable_guc=7")));
        Device other;
        IntelHardwareAccelerationPage page({other}, nullptr);
        QVERIFY(!child<QGroupBox>(&page, "groupBox")->isEnabled());
        QVERIFY(!child<KMessageWidget>(&page, "messageIntelNotAvailable")->isHidden());
        QSignalSpy modified(&page, &ISettingsPage::modifiedChanged);
        page.modeChanged(true);
        page.reset();
        QVERIFY(!page.isModified());
        QCOMPARE(modified.size(), 2);
        QCOMPARE(modified.last().first().toBool(), false);
        QCOMPARE(read(grub), grubWith("quiet i915.enable_guc=7"));
    }

    // The X log's "modeset" becomes the installed "modesetting"; the helper writes the snippet
    // and the state reads it back.
    void xorgTearing()
    {
        TearingManager manager(m_intel, nullptr);
        QVERIFY(manager.tearingUnavailableReason().isEmpty());
        QVERIFY(!manager.isTearingEnabled());
        QCOMPARE(manager.applyTearing(true), QString());
        QCOMPARE(read(tearingSnippet), tearingFile("modesetting", "true"));
        QVERIFY(manager.isTearingEnabled());
        QCOMPARE(manager.applyTearing(false), QString());
        QCOMPARE(read(tearingSnippet), tearingFile("modesetting", "false"));
        QVERIFY(!manager.isTearingEnabled());
    }

    // The tearing snippet sorts before the switch snippet and the X server takes the first
    // Device section: the two never name different drivers. A switch rewrites the tearing
    // snippet for the new driver (keeping TearFree), the helper refuses a tearing request for
    // another driver, and a new manager asks for the switch's driver.
    void tearingFollowsSwitch()
    {
        TearingManager before(m_intel, nullptr);
        QCOMPARE(before.applyTearing(true), QString());

        KAuthHelperRunner helper;
        const HelperResult switched = helper.run(HelperAction::replace(),
                                                 {{QStringLiteral("driver"), QStringLiteral("intel")},
                                                  {QStringLiteral("modelName"), QStringLiteral("UHD Graphics 620")},
                                                  {QStringLiteral("busId"), QStringLiteral("PCI:00@0000:02:0")},
                                                  {QStringLiteral("classId"), QStringLiteral("0300")},
                                                  {QStringLiteral("videoCardVendorId"), int(VideoCardVendorId::Intel)}});
        QVERIFY2(switched.ok, qPrintable(switched.errorText));
        QVERIFY(read(switchSnippet).contains("Driver \"intel\""));
        QCOMPARE(read(tearingSnippet), tearingFile("intel", "true"));

        const HelperResult refused = helper.run(HelperAction::tearing(),
                                                {{QStringLiteral("vendor"), QStringLiteral("intel")},
                                                 {QStringLiteral("driverName"), QStringLiteral("modesetting")},
                                                 {QStringLiteral("shouldEnable"), QStringLiteral("false")}});
        QVERIFY(!refused.ok);
        QVERIFY2(refused.errorText.contains(QLatin1String("\"intel\"")), qPrintable(refused.errorText));
        QCOMPARE(read(tearingSnippet), tearingFile("intel", "true"));

        TearingManager after(m_intel, nullptr);
        QCOMPARE(after.applyTearing(false), QString());
        QCOMPARE(read(tearingSnippet), tearingFile("intel", "false"));
    }
};

QTEST_MAIN(AdvancedBusTest)
#include "advancedbustest.moc"
