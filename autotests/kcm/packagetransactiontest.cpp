// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The installer and the remover end to end: the dialog sends its action through KAuth to the
// staged helper on a private system bus, the helper commits through the real QApt worker, and
// the worker hands its work to a fake dpkg that only logs (harness/kauth-fixture-ns.sh around
// harness/apt-transaction.sh --kauth). The universe is one of Debian's real driver package
// tables (APT_FIXTURE_TABLE); CORVO_TEST_KERNEL_RELEASE names the running kernel.
#include "../helper/harnessmain.h"
#include "dialogs/driverprogress.h"
#include "driverpackagedialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace
{
const QString rtx3060 = QStringLiteral("pci:v000010DEd00002504sv00001462sd0000397Dbc03sc00i00");

QStringList dpkgCalls()
{
    QFile log(qEnvironmentVariable("APT_TXN_DPKG_LOG"));
    log.open(QIODevice::ReadOnly);
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void clearDpkgLog()
{
    QFile log(qEnvironmentVariable("APT_TXN_DPKG_LOG"));
    log.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

// The package names of the .deb files dpkg was asked to unpack.
QStringList unpacked(const QStringList &calls)
{
    QStringList names;
    for (const QString &call : calls) {
        if (!call.startsWith(QLatin1String("dpkg ")) || !call.contains(QLatin1String(" --unpack "))) {
            continue;
        }
        for (const QString &word : call.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (word.endsWith(QLatin1String(".deb"))) {
                names << word.section(QLatin1Char('/'), -1).section(QLatin1Char('_'), 0, 0);
            }
        }
    }
    names.sort();
    return names;
}

QStringList purged(const QStringList &calls)
{
    QStringList names;
    for (const QString &call : calls) {
        const QStringList words = call.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() == 3 && words.at(0) == QLatin1String("dpkg-stdin") && words.at(2) == QLatin1String("purge")) {
            names << words.at(1).section(QLatin1Char(':'), 0, 0);
        }
    }
    names.sort();
    names.removeDuplicates();
    return names;
}

// The index text without the stanza of the named package; counts what it dropped.
QByteArray withoutStanza(const QByteArray &text, const QByteArray &package, int *dropped)
{
    QByteArray kept;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf("\n\n", start);
        end = end < 0 ? text.size() : end + 2;
        const QByteArray stanza = text.mid(start, end - start);
        if (stanza.startsWith("Package: " + package + '\n')) {
            ++*dropped;
        } else {
            kept += stanza;
        }
        start = end;
    }
    return kept;
}

struct Run {
    bool shown = false;
    bool timedOut = false;
    QStringList boxes; // texts of the message boxes that followed, each answered with its first button
    QList<int> progress; // every value the progress bar showed, in order
    std::function<void()> beforePress; // runs once the dialog is filled, before the button
    std::function<void(const QProgressBar *)> whileRunning; // at every poll while the progress shows
};

// Every run ends within this time: past it, every modal window is closed.
constexpr qint64 runLimitMs = 150 * 1000;

// Shows the dialog, picks the entry whose text starts with choice, presses the button and
// answers the message boxes that follow.
template<typename Dialog>
void runDialog(Run &run, Dialog &dialog, const QString &choice, QDialogButtonBox::StandardButton press)
{
    QTimer poll;
    poll.setInterval(10);
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&poll, &QTimer::timeout, &dialog, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (clock.elapsed() > runLimitMs) {
            run.timedOut = true;
            if (auto *open = qobject_cast<QDialog *>(modal)) {
                QMetaObject::invokeMethod(open, &QDialog::reject, Qt::QueuedConnection);
            }
            return;
        }
        if (auto *progress = qobject_cast<DriverProgress *>(modal)) {
            auto *bar = progress->findChild<QProgressBar *>(QStringLiteral("progressBar"));
            if (bar && !bar->property("corvoWatched").toBool()) {
                bar->setProperty("corvoWatched", true);
                run.progress << bar->value();
                QObject::connect(bar, &QProgressBar::valueChanged, &dialog, [&run](int value) {
                    run.progress << value;
                });
            }
            if (bar && run.whileRunning) {
                run.whileRunning(bar);
            }
            return;
        }
        if (modal && modal != &dialog && modal->isVisible()) {
            QStringList labels;
            for (const QLabel *label : modal->findChildren<QLabel *>()) {
                if (!label->text().isEmpty()) {
                    labels << label->text();
                }
            }
            run.boxes << labels.join(QLatin1Char('\n'));
            if (auto *buttons = modal->findChild<QDialogButtonBox *>(); buttons && !buttons->buttons().isEmpty()) {
                QMetaObject::invokeMethod(buttons->buttons().constFirst(), &QAbstractButton::click, Qt::QueuedConnection);
            } else if (auto *box = qobject_cast<QDialog *>(modal)) {
                QMetaObject::invokeMethod(box, &QDialog::reject, Qt::QueuedConnection);
            }
            return;
        }
        if (modal != &dialog || run.shown) {
            return;
        }
        run.shown = true;
        auto *box = dialog.template findChild<QComboBox *>(QStringLiteral("driverBox"));
        for (int i = 0; i < box->count(); ++i) {
            if (box->itemText(i).startsWith(choice)) {
                box->setCurrentIndex(i);
            }
        }
        if (run.beforePress) {
            run.beforePress();
        }
        // Queued: the press runs the whole transaction in nested event loops, and a timer does
        // not fire again while its own slot is still running, so a press from inside this slot
        // would leave the progress, the message boxes and the time limit unwatched.
        QMetaObject::invokeMethod(dialog.template findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(press),
                                  &QAbstractButton::click,
                                  Qt::QueuedConnection);
    });
    poll.start();
    dialog.exec();
}
}

class PackageTransactionTest : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_scratch;
    int m_reboots = 0;

    PackageDialogServices services()
    {
        PackageDialogServices s = PackageDialogServices::system();
        s.locations.idListDir = QFINDTESTDATA("../fixtures/drivers/nvidia");
        s.locations.appStreamDirs = QStringList{QFINDTESTDATA("../fixtures/drivers/swcatalog")};
        s.locations.appStreamCacheDir = m_scratch.filePath(QStringLiteral("appstream-cache"));
        s.dkmsSourceRoot = m_scratch.path();
        s.kernelRelease = qEnvironmentVariable("CORVO_TEST_KERNEL_RELEASE");
        s.secureBoot = [] {
            return SecureBoot::State::Off;
        };
        s.rebootPrompt = [this] {
            ++m_reboots;
        };
        return s;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("APT_TXN_DPKG_LOG"), "run through autotests/harness/apt-transaction.sh --kauth");
        QVERIFY(!qEnvironmentVariableIsEmpty("CORVO_TEST_KERNEL_RELEASE"));
        m_scratch.setAutoRemove(true);
        QFile::setPermissions(m_scratch.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    }

    void init()
    {
        clearDpkgLog();
        m_reboots = 0;
    }

    // The current driver with the running kernel's headers, one transaction.
    void installDriverWithHeaders()
    {
        DriverInstaller dialog(rtx3060, Nvidia, nullptr, services());
        Run run;
        runDialog(run, dialog, QStringLiteral("nvidia-driver"), QDialogButtonBox::Ok);
        QVERIFY(run.shown);
        QVERIFY2(run.boxes.isEmpty(), qPrintable(run.boxes.join(QLatin1Char('|'))));
        const QStringList names = unpacked(dpkgCalls());
        QVERIFY2(names.contains(QStringLiteral("nvidia-driver")), qPrintable(names.join(QLatin1Char(' '))));
        QVERIFY2(names.contains(QStringLiteral("nvidia-kernel-dkms")), qPrintable(names.join(QLatin1Char(' '))));
        QVERIFY2(names.contains(QStringLiteral("linux-headers-") + qEnvironmentVariable("CORVO_TEST_KERNEL_RELEASE")),
                 qPrintable(names.join(QLatin1Char(' '))));
        QVERIFY(!names.contains(QStringLiteral("nvidia-open-kernel-dkms")));
        QCOMPARE(m_reboots, 1);
    }

    // Only where the open modules have the driver's version: both in one transaction, and the
    // proprietary modules stay out.
    void installOpenPair()
    {
        if (!qEnvironmentVariable("APT_FIXTURE_TABLE").endsWith(QLatin1String("debian-trixie.txt"))) {
            QSKIP("the open modules install with the driver only in the Debian 13 universe");
        }
        DriverInstaller dialog(rtx3060, Nvidia, nullptr, services());
        Run run;
        runDialog(run, dialog, QStringLiteral("nvidia-open-kernel-dkms"), QDialogButtonBox::Ok);
        QVERIFY(run.shown);
        QVERIFY2(run.boxes.isEmpty(), qPrintable(run.boxes.join(QLatin1Char('|'))));
        const QStringList names = unpacked(dpkgCalls());
        QVERIFY2(names.contains(QStringLiteral("nvidia-open-kernel-dkms")) && names.contains(QStringLiteral("nvidia-driver")),
                 qPrintable(names.join(QLatin1Char(' '))));
        QVERIFY2(!names.contains(QStringLiteral("nvidia-kernel-dkms")), qPrintable(names.join(QLatin1Char(' '))));
        QCOMPARE(m_reboots, 1);
    }

    // What the user sees moves with the worker's own reports: dpkg is held at its first call,
    // and by then the bar has left 0 without reaching 100; it ends at 100.
    void progressShown()
    {
        const QString hold = qEnvironmentVariable("APT_TXN_DPKG_HOLD");
        QFile holdFile(hold);
        QVERIFY(holdFile.open(QIODevice::WriteOnly));
        holdFile.close();
        const auto release = qScopeGuard([&hold] {
            QFile::remove(hold);
        });
        DriverInstaller dialog(rtx3060, Nvidia, nullptr, services());
        Run run;
        int shownWhileHeld = -1;
        QElapsedTimer held;
        run.whileRunning = [&](const QProgressBar *bar) {
            if (shownWhileHeld >= 0 || dpkgCalls().isEmpty()) {
                return;
            }
            if (!held.isValid()) {
                held.start();
            }
            // The worker's last report before dpkg may still be on its way through the helper.
            if (bar->value() > 0 || held.elapsed() > 10000) {
                shownWhileHeld = bar->value();
                QFile::remove(hold);
            }
        };
        runDialog(run, dialog, QStringLiteral("nvidia-driver"), QDialogButtonBox::Ok);
        QVERIFY(run.shown);
        QVERIFY(!run.timedOut);
        QVERIFY2(run.boxes.isEmpty(), qPrintable(run.boxes.join(QLatin1Char('|'))));
        QStringList values;
        for (int value : std::as_const(run.progress)) {
            values << QString::number(value);
        }
        const QString seen = QStringLiteral("%1 while held; shown: %2").arg(shownWhileHeld).arg(values.join(QLatin1Char(' ')));
        qInfo().noquote() << "progress:" << seen;
        QVERIFY2(shownWhileHeld > 0 && shownWhileHeld < 100, qPrintable(seen));
        QVERIFY2(!run.progress.isEmpty() && run.progress.constLast() == 100, qPrintable(seen));
        QVERIFY2(unpacked(dpkgCalls()).contains(QStringLiteral("nvidia-driver")), qPrintable(dpkgCalls().join(QLatin1Char('\n'))));
        QCOMPARE(m_reboots, 1);
    }

    // The package leaves the archive between filling the dialog and pressing Install: the
    // helper's fresh cache lacks it, the user is told so, and nothing reaches the worker.
    void choiceVanishedSendsNothing()
    {
        const QDir lists(QString::fromUtf8(qgetenv("APT_TXN_DIR")) + QStringLiteral("/apt/state/lists"));
        QMap<QString, QByteArray> saved;
        const auto restore = qScopeGuard([&saved] {
            for (auto it = saved.cbegin(); it != saved.cend(); ++it) {
                QFile file(it.key());
                if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                    file.write(it.value());
                }
            }
        });
        int dropped = 0;
        DriverInstaller dialog(rtx3060, Nvidia, nullptr, services());
        Run run;
        run.beforePress = [&] {
            for (const QString &name : lists.entryList({QStringLiteral("*_Packages")}, QDir::Files)) {
                QFile file(lists.filePath(name));
                if (!file.open(QIODevice::ReadOnly)) {
                    continue;
                }
                const QByteArray text = file.readAll();
                file.close();
                const QByteArray kept = withoutStanza(text, "nvidia-driver", &dropped);
                if (kept != text && file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                    saved.insert(file.fileName(), text);
                    file.write(kept);
                }
            }
        };
        runDialog(run, dialog, QStringLiteral("nvidia-driver"), QDialogButtonBox::Ok);
        QVERIFY(run.shown);
        QVERIFY(!run.timedOut);
        QCOMPARE(dropped, 1);
        qInfo().noquote() << "told:" << run.boxes.join(QLatin1Char('|'));
        QCOMPARE(run.boxes.size(), 1);
        QVERIFY2(run.boxes.constFirst().contains(QStringLiteral("nvidia-driver")), qPrintable(run.boxes.constFirst()));
        QCOMPARE(dpkgCalls(), QStringList());
        QCOMPARE(m_reboots, 0);
    }

    void cancelSendsNothing()
    {
        DriverInstaller dialog(rtx3060, Nvidia, nullptr, services());
        Run run;
        runDialog(run, dialog, QStringLiteral("nvidia-driver"), QDialogButtonBox::Cancel);
        QVERIFY(run.shown);
        QTest::qWait(500);
        QCOMPARE(dpkgCalls(), QStringList());
        QCOMPARE(m_reboots, 0);
    }

    void removeFirmware()
    {
        DriverRemover dialog(rtx3060, QString(), nullptr, services());
        Run run;
        runDialog(run, dialog, QStringLiteral("firmware-amd-graphics"), QDialogButtonBox::Ok);
        QVERIFY(run.shown);
        QVERIFY2(run.boxes.isEmpty(), qPrintable(run.boxes.join(QLatin1Char('|'))));
        QVERIFY2(purged(dpkgCalls()) == QStringList{QStringLiteral("firmware-amd-graphics")}, qPrintable(dpkgCalls().join(QLatin1Char('\n'))));
        QCOMPARE(m_reboots, 1);
    }
};

int main(int argc, char **argv)
{
    HarnessMain::enterHarness(argc,
                              argv,
                              {QByteArrayLiteral(KAUTH_HARNESS_DIR "/kauth-fixture-ns.sh"),
                               QByteArrayLiteral(KAUTH_HARNESS_DIR "/apt-transaction.sh"),
                               QByteArrayLiteral("--kauth"),
                               QByteArrayLiteral(KAUTH_STAGE_DIR)});
    QApplication app(argc, argv);
    PackageTransactionTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "packagetransactiontest.moc"
