// The installer and the remover end to end: the dialog sends its action through KAuth to the
// staged helper on a private system bus, the helper commits through the real QApt worker, and
// the worker hands its work to a fake dpkg that only logs (harness/kauth-fixture-ns.sh around
// harness/apt-transaction.sh --kauth). The universe is one of Debian's real driver package
// tables (APT_FIXTURE_TABLE); CORVO_TEST_KERNEL_RELEASE names the running kernel.
#include "../helper/harnessmain.h"
#include "dialogs/driverprogress.h"
#include "driverpackagedialogs.h"

#include <QApplication>
#include <QLabel>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

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

struct Run {
    bool shown = false;
    QStringList boxes; // texts of the message boxes that followed, each answered with its first button
};

// Shows the dialog, picks the entry whose text starts with choice, presses the button and
// answers the message boxes that follow.
template<typename Dialog>
void runDialog(Run &run, Dialog &dialog, const QString &choice, QDialogButtonBox::StandardButton press)
{
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &dialog, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (qobject_cast<DriverProgress *>(modal)) {
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
                buttons->buttons().constFirst()->click();
            } else if (auto *box = qobject_cast<QDialog *>(modal)) {
                box->reject();
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
        dialog.template findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(press)->click();
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
        QVERIFY2(names.contains(QStringLiteral("linux-headers-") + qEnvironmentVariable("CORVO_TEST_KERNEL_RELEASE")), qPrintable(names.join(QLatin1Char(' '))));
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
        QVERIFY2(names.contains(QStringLiteral("nvidia-open-kernel-dkms")) && names.contains(QStringLiteral("nvidia-driver")), qPrintable(names.join(QLatin1Char(' '))));
        // The helper marks the packages one by one with automatic dependency resolution, and
        // nvidia-driver's first alternative (the proprietary modules) is taken although the open
        // modules are already marked: both flavours end up in the transaction.
        QEXPECT_FAIL("", "the helper resolves nvidia-driver's module alternative to nvidia-kernel-dkms", Continue);
        QVERIFY2(!names.contains(QStringLiteral("nvidia-kernel-dkms")), qPrintable(names.join(QLatin1Char(' '))));
        QCOMPARE(m_reboots, 1);
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
    HarnessMain::enterHarness(argc, argv,
                              {QByteArrayLiteral(KAUTH_HARNESS_DIR "/kauth-fixture-ns.sh"), QByteArrayLiteral(KAUTH_HARNESS_DIR "/apt-transaction.sh"),
                               QByteArrayLiteral("--kauth"), QByteArrayLiteral(KAUTH_STAGE_DIR)});
    QApplication app(argc, argv);
    PackageTransactionTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "packagetransactiontest.moc"
