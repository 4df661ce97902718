// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The whole privileged path: a client executes the helper's actions through KAuth on a private
// system bus with polkit, the bus activates the staged helper as root, and the helper writes to
// the fixture paths of the namespace.
#include "asnobody.h"
#include "fixturefs.h"
#include "harnessmain.h"
#include "helperclient.h"
#include "systempaths.h"

#include <KAuth/ExecuteJob>

#include <QProcess>
#include <QTest>

#include <unistd.h>

using namespace FixtureFs;

namespace
{
const QString snippet = QStringLiteral("/etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf");
const QString mark = QStringLiteral("/run/corvo-video-driver/backup.mark");
const QString backupDir = QStringLiteral("/usr/share/vela-admin-video-driver");

QVariantMap replaceArgs()
{
    return {{QStringLiteral("modelName"), QStringLiteral("GeForce GTX 1050 Ti")},
            {QStringLiteral("busId"), QStringLiteral("PCI:0b@0000:00:0")},
            {QStringLiteral("driver"), QStringLiteral("nvidia")},
            {QStringLiteral("classId"), 0x300},
            {QStringLiteral("videoCardVendorId"), 0x10de}};
}

// "--client": run one replace as whoever we are and print KAuth's error code and the text the
// clients would show.
int runAsClient()
{
    KAuth::ExecuteJob *job = HelperClient::makeAction(HelperAction::replace(), replaceArgs()).execute();
    job->exec();
    std::printf("code=%d\ntext=%s\n", job->error(), HelperClient::errorText(job).toUtf8().constData());
    return 0;
}
}

class KAuthRoundTripTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (!insideFixtureNamespace()) {
            QFAIL("refusing to run outside the fixture namespace: start it through autotests/harness/kauth-fixture-ns.sh");
        }
        QVERIFY2(QFileInfo::exists(QStringLiteral("/usr/lib/kauth/libexec/videodriver-helper")),
                 "the staged helper is not overlaid; run scripts/build.sh first");
        write(SystemPaths::xorgDriverDirs().at(2) + QStringLiteral("nvidia_drv.so"), "elf");
    }

    void init()
    {
        clear(QStringLiteral("/etc/X11/xorg.conf.d"));
        clear(QStringLiteral("/tmp"));
        QDir(backupDir).removeRecursively();
        QFile::remove(mark);
    }

    void rootReplaceWritesSnippet()
    {
        KAuthHelperRunner runner;
        const HelperResult result = runner.run(HelperAction::replace(), replaceArgs());
        QVERIFY2(result.ok, qPrintable(result.errorText));
        // The answer to KAuth's call comes after the signal that ends the job; the runner has
        // waited for it (a process that left before it was damaged at exit).
        QCOMPARE(HelperClient::unansweredHelperCalls(), 0);
        QCOMPARE(read(snippet),
                 QByteArray("Section \"Module\"\n   Load \"modesetting\"\nEndSection\n\n"
                            "Section \"Device\"\n    Identifier \"GeForce GTX 1050 Ti\"\n    Driver \"nvidia\"\n    BusID \"PCI:11@0000:00:0\"\n"
                            "    Option \"AllowEmptyInitialConfiguration\"\nEndSection\n\n"));
    }

    // Whatever a local user leaves in /tmp under the names the backup mark once had, the first
    // switch of the boot still keeps a copy of the configuration.
    void hostileMarkInTmp()
    {
        write(QStringLiteral("/etc/modprobe.d/blacklist-nouveau.conf"), "blacklist nouveau\n");
        QProcess user;
        user.start(AsNobody::program(), AsNobody::arguments(QStringLiteral("/bin/mkdir"), {QStringLiteral("/tmp/driver-root.mark")}));
        QVERIFY(user.waitForFinished(10000) && user.exitCode() == 0);
        KAuthHelperRunner runner;
        const HelperResult result = runner.run(HelperAction::replace(), replaceArgs());
        QVERIFY2(result.ok, qPrintable(result.errorText));
        QCOMPARE(read(backupDir + QStringLiteral("/latest/modprobe.d/blacklist-nouveau.conf")), QByteArray("blacklist nouveau\n"));
        QVERIFY(QFileInfo(mark).isFile());
    }

    void helperErrorReachesClient_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QVariantMap>("args");
        QTest::addColumn<QString>("text");
        QTest::newRow("replace without arguments") << HelperAction::replace() << QVariantMap() << QStringLiteral("Empty arguments!");
        QVariantMap injected = replaceArgs();
        injected.insert(QStringLiteral("modelName"), QStringLiteral("x\"\nSection \"Files\""));
        QTest::newRow("replace with a line break") << HelperAction::replace() << injected << QStringLiteral("Error getting arguments.");
        QVariantMap unknown = replaceArgs();
        unknown.insert(QStringLiteral("driver"), QStringLiteral("vesa"));
        QTest::newRow("replace with unknown driver") << HelperAction::replace() << unknown
                                                     << QStringLiteral("The XOrg driver \"vesa\" is not installed: no vesa_drv.so in the XOrg driver folders.");
        QTest::newRow("tearing with capital vendor") << HelperAction::tearing() << QVariantMap{{QStringLiteral("vendor"), QStringLiteral("Intel")}}
                                                     << QStringLiteral("Did not receive proper GPU vendor");
        QTest::newRow("install without drivers") << HelperAction::install() << QVariantMap{{QStringLiteral("drivers"), QStringList()}}
                                                 << QStringLiteral("Didn't receive any drivers for installation");
        QTest::newRow("acceleration without arguments")
            << HelperAction::acceleration() << QVariantMap() << QStringLiteral("acceleration change: Empty arguments!");
    }
    void helperErrorReachesClient()
    {
        QFETCH(QString, action);
        QFETCH(QVariantMap, args);
        QFETCH(QString, text);
        KAuthHelperRunner runner;
        const HelperResult result = runner.run(action, args);
        QVERIFY(!result.ok);
        QCOMPARE(result.errorText, text);
        QCOMPARE(HelperClient::unansweredHelperCalls(), 0);
        QVERIFY(!QFileInfo::exists(snippet));
    }

    // The installed policy as polkit itself reads it: the boot loader change asks for the
    // administrator's password every time, the other actions keep the grant for the session. A
    // caller outside any session is never asked.
    void policyAsPolkitSeesIt_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("active");
        QTest::newRow("acceleration") << QStringLiteral("acceleration") << QStringLiteral("auth_admin");
        QTest::newRow("replace") << QStringLiteral("replace") << QStringLiteral("auth_admin_keep");
        QTest::newRow("install") << QStringLiteral("install") << QStringLiteral("auth_admin_keep");
        QTest::newRow("remove") << QStringLiteral("remove") << QStringLiteral("auth_admin_keep");
        QTest::newRow("tearing") << QStringLiteral("tearing") << QStringLiteral("auth_admin_keep");
    }
    void policyAsPolkitSeesIt()
    {
        QFETCH(QString, action);
        QFETCH(QString, active);
        QProcess pkaction;
        pkaction.start(QStringLiteral("/usr/bin/pkaction"),
                       {QStringLiteral("--verbose"), QStringLiteral("--action-id"), QStringLiteral("org.corvo.kcm.videodriver.") + action});
        QVERIFY(pkaction.waitForFinished(30000));
        QCOMPARE(pkaction.exitCode(), 0);
        QStringList implicit;
        for (const QString &line : QString::fromUtf8(pkaction.readAllStandardOutput()).split(QLatin1Char('\n'))) {
            if (line.trimmed().startsWith(QLatin1String("implicit "))) {
                implicit << line.simplified();
            }
        }
        QCOMPARE(implicit,
                 (QStringList{QStringLiteral("implicit any: no"), QStringLiteral("implicit inactive: no"), QStringLiteral("implicit active: ") + active}));
    }

    void unprivilegedCallerRefused()
    {
        QProcess client;
        client.start(AsNobody::program(), AsNobody::arguments(QCoreApplication::applicationFilePath(), {QStringLiteral("--client")}));
        QVERIFY(client.waitForFinished(60000));
        const QString output = QString::fromUtf8(client.readAllStandardOutput());
        QCOMPARE(client.exitCode(), 0);
        // KAuth gives no text of its own for a refusal (code 4): the client's words for it.
        QCOMPARE(output, QStringLiteral("code=4\ntext=Authorization denied.\n"));
        QVERIFY(!QFileInfo::exists(snippet));
    }
};

int main(int argc, char **argv)
{
    HarnessMain::enterHarness(argc,
                              argv,
                              {QByteArrayLiteral(KAUTH_HARNESS_DIR "/kauth-fixture-ns.sh"),
                               QByteArrayLiteral(KAUTH_HARNESS_DIR "/kauth-bus.sh"),
                               QByteArrayLiteral(KAUTH_STAGE_DIR)});
    QCoreApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--client") == 0) {
        return runAsClient();
    }
    KAuthRoundTripTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "kauthroundtriptest.moc"
