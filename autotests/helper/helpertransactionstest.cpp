// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The install and remove actions end to end: a KAuth client executes them as the control
// module does, the bus activates the staged helper as root, the helper commits through the real
// QApt worker against the fixture APT universe, and the worker hands its work to a fake dpkg
// that only logs. Everything runs in a private mount namespace (kauth-fixture-ns.sh around
// apt-transaction.sh --kauth): the helper's backup, mark and the APT lists lock are fixtures.
#include "asnobody.h"
#include "driverswitchhelper.h"
#include "fixturefs.h"
#include "harnessmain.h"
#include "helperbus.h"
#include "helperclient.h"

#include <KAuth/ExecuteJob>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <functional>
#include <signal.h>
#include <sys/stat.h>
#include <sys/vfs.h>

using namespace FixtureFs;

namespace
{
const QString backupDir = QStringLiteral("/usr/share/vela-admin-video-driver");
const QString backupMark = QStringLiteral("/run/corvo-video-driver/backup.mark");
const QString latest = backupDir + QStringLiteral("/latest");
const QString modprobeFile = QStringLiteral("/etc/modprobe.d/fixture-blacklist.conf");
const QString xorgFile = QStringLiteral("/etc/X11/xorg.conf.d/10-fixture.conf");
const QString listsLock = QStringLiteral("/var/lib/apt/lists/lock");
constexpr const char *installAsCaller = "--install-as-caller";

struct JobOutcome {
    bool ended = false; // the job emitted its result within the limit
    int error = -1;
    QString errorText;
    QList<unsigned long> percents;
};

// Executes one helper action as the control module's progress dialog follows it: start, the
// job's percentage, its result. duringWait runs once the job has been started, with the job and
// the outcome so far (it may wait and look whether the job has ended meanwhile).
JobOutcome execute(const QString &action, const QStringList &drivers, const std::function<void(KAuth::ExecuteJob *, const JobOutcome &)> &duringWait = {})
{
    JobOutcome outcome;
    if (!HelperBus::waitUntilServing()) {
        outcome.errorText = QStringLiteral("the helper does not serve its actions on the bus");
        return outcome;
    }
    KAuth::ExecuteJob *job = HelperClient::makeAction(action, {{QStringLiteral("drivers"), drivers}}).execute();
    QEventLoop loop;
    QObject::connect(job, &KJob::percentChanged, &loop, [&outcome](KJob *, unsigned long percent) {
        outcome.percents << percent;
    });
    QObject::connect(job, &KJob::result, &loop, [&](KJob *) {
        outcome.ended = true;
        outcome.error = job->error();
        outcome.errorText = HelperClient::errorText(job);
        loop.quit();
    });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    job->start();
    if (duringWait) {
        duringWait(job, outcome);
    }
    if (!outcome.ended) {
        loop.exec();
    }
    return outcome;
}

QString dpkgLogPath()
{
    return qEnvironmentVariable("APT_TXN_DPKG_LOG");
}

QStringList dpkgCalls()
{
    return QString::fromUtf8(read(dpkgLogPath())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Package names that a dpkg call line lists for one operation: ".deb" files of --unpack,
// "name[:arch]" words of --remove.
QSet<QString> namesIn(const QStringList &calls, const QString &operation)
{
    QSet<QString> names;
    for (const QString &call : calls) {
        const int at = call.indexOf(QStringLiteral(" --%1 ").arg(operation));
        if (!call.startsWith(QLatin1String("dpkg ")) || at < 0) {
            continue;
        }
        const QStringList words = call.mid(at + operation.size() + 4).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (QString word : words) {
            if (word.startsWith(QLatin1String("--"))) {
                continue; // an option such as --auto-deconfigure
            }
            if (word.endsWith(QLatin1String(".deb"))) {
                word = word.section(QLatin1Char('/'), -1).section(QLatin1Char('_'), 0, 0);
            }
            names.insert(word.section(QLatin1Char(':'), 0, 0));
        }
    }
    return names;
}

// Packages whose selection apt set to "purge" before dpkg --purge --pending.
QSet<QString> purgeSelections(const QStringList &calls)
{
    static const QRegularExpression selection(QStringLiteral("^dpkg-stdin ([^\\s:]+)(?::\\S+)?\\s+purge$"));
    QSet<QString> names;
    for (const QString &call : calls) {
        const QRegularExpressionMatch match = selection.match(call);
        if (match.hasMatch()) {
            names.insert(match.captured(1));
        }
    }
    return names;
}

// Sorted, so that QCOMPARE shows both sides when they differ.
QStringList sorted(const QSet<QString> &set)
{
    QStringList list(set.cbegin(), set.cend());
    list.sort();
    return list;
}
QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

void clearDpkgLog()
{
    QFile log(dpkgLogPath());
    log.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

// A shell that ignores the polite signals, so that only SIGKILL can end it, and then sleeps
// with whatever it was told to do first (for example hold the APT lists lock).
bool startSleeper(QProcess &process, const QString &before)
{
    process.start(QStringLiteral("/bin/sh"),
                  {QStringLiteral("-c"), QStringLiteral("trap '' TERM INT HUP QUIT; %1 && echo ready && exec /usr/bin/sleep 600").arg(before)});
    return process.waitForStarted(5000) && process.waitForReadyRead(10000) && process.readAllStandardOutput() == "ready\n";
}

// The bus reads its service folder again (a .service file came or went).
bool reloadBusConfig()
{
    const QDBusMessage reply = QDBusConnection::systemBus().call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                                                                QStringLiteral("/org/freedesktop/DBus"),
                                                                                                QStringLiteral("org.freedesktop.DBus"),
                                                                                                QStringLiteral("ReloadConfig")));
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QTest::qWait(50);
    }
    return true;
}
}

class HelperTransactionsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!insideFixtureNamespace()) {
            QFAIL("refusing to run outside the fixture namespace: start it through autotests/harness/kauth-fixture-ns.sh");
        }
        QVERIFY2(!dpkgLogPath().isEmpty() && !qEnvironmentVariableIsEmpty("APT_TXN_DPKG_HOLD"), "run through autotests/harness/apt-transaction.sh --kauth");
        QVERIFY2(QFileInfo::exists(QStringLiteral("/usr/lib/kauth/libexec/videodriver-helper")),
                 "the staged helper is not overlaid; run scripts/build.sh first");
        // The lists lock and the backup folder must be this namespace's own before anything
        // here deletes or locks them.
        QVERIFY(isFixture(QStringLiteral("/var/lib/apt/lists")));
        struct statfs fs;
        QVERIFY(::statfs("/usr/share", &fs) == 0 && fs.f_type == OVERLAYFS_SUPER_MAGIC);
        QDir(backupDir).removeRecursively();
        m_extendedStates = read(extendedStates());
        QVERIFY(m_extendedStates.contains("libnvidia-a-fixture"));
        QVERIFY(write(modprobeFile, "blacklist nouveau\n"));
        QVERIFY(write(xorgFile, "Section \"Device\"\nEndSection\n"));
    }

    void init()
    {
        clearDpkgLog();
        // The fake dpkg changes nothing, but APT records the automatic marks of each transaction:
        // every case starts from the fixture's.
        write(extendedStates(), m_extendedStates);
    }

    // Runs first: the first action of a boot takes the backup, the next one leaves it alone.
    void backupOnFirstActionOnly()
    {
        QVERIFY2(!QFileInfo::exists(backupMark), "a backup mark exists already: this case must run before every other action");
        QVERIFY(!QFileInfo::exists(backupDir));

        JobOutcome first = execute(HelperAction::install(), {QStringLiteral("mesa-va-drivers")});
        QVERIFY2(first.ended && first.error == 0, qPrintable(first.errorText));
        struct stat st;
        QVERIFY(::lstat(QFile::encodeName(backupMark).constData(), &st) == 0);
        QVERIFY(S_ISREG(st.st_mode));
        QCOMPARE(st.st_uid, uid_t(0));
        QCOMPARE(read(latest + QStringLiteral("/modprobe.d/fixture-blacklist.conf")), QByteArray("blacklist nouveau\n"));
        QCOMPARE(read(latest + QStringLiteral("/xorg.conf.d/10-fixture.conf")), QByteArray("Section \"Device\"\nEndSection\n"));

        QVERIFY(write(modprobeFile, "blacklist something-else\n"));
        QVERIFY(write(QStringLiteral("/etc/modprobe.d/later.conf"), "options later\n"));
        JobOutcome second = execute(HelperAction::remove(), {QStringLiteral("nvidia-driver-fixture")});
        QVERIFY2(second.ended && second.error == 0, qPrintable(second.errorText));
        QCOMPARE(read(latest + QStringLiteral("/modprobe.d/fixture-blacklist.conf")), QByteArray("blacklist nouveau\n"));
        QVERIFY(!QFileInfo::exists(latest + QStringLiteral("/modprobe.d/later.conf")));
        QVERIFY(QFile::remove(QStringLiteral("/etc/modprobe.d/later.conf")));
    }

    void install_data()
    {
        QTest::addColumn<QStringList>("drivers");
        QTest::addColumn<QStringList>("unpacked");
        QTest::newRow("one package") << QStringList{QStringLiteral("mesa-va-drivers")} << QStringList{QStringLiteral("mesa-va-drivers")};
        QTest::newRow("two packages") << QStringList{QStringLiteral("intel-driver-fixture"), QStringLiteral("mesa-vdpau-drivers")}
                                      << QStringList{QStringLiteral("intel-driver-fixture"), QStringLiteral("mesa-vdpau-drivers")};
    }
    void install()
    {
        QFETCH(QStringList, drivers);
        QFETCH(QStringList, unpacked);
        const JobOutcome outcome = execute(HelperAction::install(), drivers);
        QVERIFY2(outcome.ended, "no result within 120 s");
        QVERIFY2(outcome.error == 0, qPrintable(outcome.errorText));
        QVERIFY2(std::any_of(outcome.percents.cbegin(),
                             outcome.percents.cend(),
                             [](unsigned long p) {
                                 return p >= 1 && p <= 100;
                             }),
                 "no transaction progress reached the client");
        for (unsigned long percent : outcome.percents) {
            QVERIFY2(percent <= 100, qPrintable(QString::number(percent)));
        }
        const QStringList calls = dpkgCalls();
        QCOMPARE(sorted(namesIn(calls, QStringLiteral("unpack"))), sorted(unpacked));
        QVERIFY2(std::any_of(calls.cbegin(),
                             calls.cend(),
                             [](const QString &call) {
                                 return call.contains(QLatin1String(" --configure "));
                             }),
                 qPrintable(calls.join(QLatin1Char('\n'))));
        QVERIFY(namesIn(calls, QStringLiteral("remove")).isEmpty());
        QVERIFY(purgeSelections(calls).isEmpty());
    }

    // Installed in the fixture: nvidia-driver-fixture (needs libnvidia-a- and libnvidia-b-fixture),
    // nvidia-tools-fixture (needs libnvidia-b-fixture), both libraries.
    void remove_data()
    {
        QTest::addColumn<QStringList>("drivers");
        QTest::addColumn<QStringList>("purged");
        QTest::newRow("driver: its own library goes, the shared one stays")
            << QStringList{QStringLiteral("nvidia-driver-fixture")}
            << QStringList{QStringLiteral("nvidia-driver-fixture"), QStringLiteral("libnvidia-a-fixture")};
        QTest::newRow("tools: the library the driver still needs stays")
            << QStringList{QStringLiteral("nvidia-tools-fixture")} << QStringList{QStringLiteral("nvidia-tools-fixture")};
        // Each package's dependencies are judged on its own: for the driver, the tools are an
        // installed package outside its name set, and the other way round.
        QTest::newRow("driver and tools") << QStringList{QStringLiteral("nvidia-driver-fixture"), QStringLiteral("nvidia-tools-fixture")}
                                          << QStringList{QStringLiteral("nvidia-driver-fixture"),
                                                         QStringLiteral("libnvidia-a-fixture"),
                                                         QStringLiteral("nvidia-tools-fixture")};
    }
    void remove()
    {
        QFETCH(QStringList, drivers);
        QFETCH(QStringList, purged);
        const JobOutcome outcome = execute(HelperAction::remove(), drivers);
        QVERIFY2(outcome.ended, "no result within 120 s");
        QVERIFY2(outcome.error == 0, qPrintable(outcome.errorText));
        const QStringList calls = dpkgCalls();
        QCOMPARE(sorted(purgeSelections(calls)), sorted(purged));
        QVERIFY2(std::any_of(calls.cbegin(),
                             calls.cend(),
                             [](const QString &call) {
                                 return call.endsWith(QLatin1String(" --purge --pending"));
                             }),
                 qPrintable(calls.join(QLatin1Char('\n'))));
        const QSet<QString> removed = namesIn(calls, QStringLiteral("remove"));
        for (const QString &name : removed) {
            QVERIFY2(purged.contains(name), qPrintable(calls.join(QLatin1Char('\n'))));
        }
        QVERIFY(namesIn(calls, QStringLiteral("unpack")).isEmpty());
    }

    void unknownPackage_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("drivers");
        QTest::addColumn<QString>("reply");
        QTest::newRow("install, unknown after known") << HelperAction::install()
                                                      << QStringList{QStringLiteral("mesa-va-drivers"), QStringLiteral("no-such-fixture")}
                                                      << QStringLiteral("Cannot find package no-such-fixture");
        QTest::newRow("install, unknown alone") << HelperAction::install() << QStringList{QStringLiteral("ghost-driver")}
                                                << QStringLiteral("Cannot find package ghost-driver");
        QTest::newRow("remove, unknown before known") << HelperAction::remove()
                                                      << QStringList{QStringLiteral("ghost-driver"), QStringLiteral("nvidia-driver-fixture")}
                                                      << QStringLiteral("Cannot find package ghost-driver");
        QTest::newRow("remove, first of two unknown named")
            << HelperAction::remove() << QStringList{QStringLiteral("nvidia-driver-fixture"), QStringLiteral("ghost-1"), QStringLiteral("ghost-2")}
            << QStringLiteral("Cannot find package ghost-1");
    }
    void unknownPackage()
    {
        QFETCH(QString, action);
        QFETCH(QStringList, drivers);
        QFETCH(QString, reply);
        const JobOutcome outcome = execute(action, drivers);
        QVERIFY2(outcome.ended, "no result within 120 s");
        QVERIFY(outcome.error != 0);
        QCOMPARE(outcome.errorText, reply);
        // Give a wrongly started transaction the time to reach dpkg before looking.
        QTest::qWait(1500);
        QCOMPARE(dpkgCalls(), QStringList());
    }

    // polkit grants the install action only to administrators; uid 65534 has no authentication
    // agent either, so it is refused at once: KAuth's AuthorizationDeniedError, and the helper
    // never runs, so nothing reaches dpkg. Root is always authorised, so a child as uid 65534
    // sends the request (the whole test object cannot run as that user: its set-up writes
    // root's files).
    void installDeniedToNobody()
    {
        QVERIFY(HelperBus::waitUntilServing());
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(AsNobody::program(),
                    AsNobody::arguments(QCoreApplication::applicationFilePath(), {QString::fromLatin1(installAsCaller), QStringLiteral("mesa-va-drivers")}));
        if (!child.waitForFinished(60000)) {
            child.kill();
            child.waitForFinished(5000);
            QFAIL(qPrintable(QStringLiteral("the unprivileged install got no answer within 60 s: ") + QString::fromUtf8(child.readAll())));
        }
        const QByteArray output = child.readAll();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
        QVERIFY2(output.contains("job error 4\n"), output.constData()); // KAuth's AuthorizationDeniedError
        QTest::qWait(1500);
        QCOMPARE(dpkgCalls(), QStringList());
    }

    // dpkg fails: the transaction ends in an error that reaches the client.
    void dpkgFailureReachesClient()
    {
        const QString failFlag = qEnvironmentVariable("APT_TXN_DPKG_FAIL");
        QVERIFY(!failFlag.isEmpty());
        QVERIFY(write(failFlag, QByteArray()));
        auto cleanup = qScopeGuard([&] {
            QFile::remove(failFlag);
        });
        const JobOutcome outcome = execute(HelperAction::install(), {QStringLiteral("mesa-va-drivers")});
        QVERIFY2(outcome.ended, "no result within 120 s");
        QCOMPARE(outcome.error, -1); // a helper error reply
        // QApt's words for a failed commit; this dpkg reports only its exit status, so QApt has
        // no details to append.
        QCOMPARE(outcome.errorText, QStringLiteral("An error occurred while applying changes: "));
        QVERIFY2(!dpkgCalls().isEmpty(), "dpkg was never called");
    }

    // The package service is not on the bus and cannot be started: the helper says so at once.
    void noPackageWorker()
    {
        const QString service = qEnvironmentVariable("APT_TXN_DIR") + QStringLiteral("/services/org.kubuntu.qaptworker3.service");
        const QString pidFile = qEnvironmentVariable("APT_TXN_DIR") + QStringLiteral("/pids/org.kubuntu.qaptworker3.pid");
        QVERIFY(QFile::rename(service, service + QStringLiteral(".off")));
        auto restore = qScopeGuard([&] {
            QFile::rename(service + QStringLiteral(".off"), service);
            reloadBusConfig();
        });
        QVERIFY(reloadBusConfig());
        // A worker still running from the cases before is stopped, by its pid.
        const qint64 pid = read(pidFile).trimmed().toLongLong();
        if (pid > 0 && ::kill(pid_t(pid), SIGTERM) == 0) {
            QVERIFY(waitFor(
                [pid] {
                    return ::kill(pid_t(pid), 0) != 0;
                },
                10000));
        }
        QElapsedTimer clock;
        clock.start();
        const JobOutcome outcome = execute(HelperAction::install(), {QStringLiteral("mesa-va-drivers")});
        QVERIFY2(outcome.ended, "no result within 120 s");
        QCOMPARE(outcome.error, -1);
        QCOMPARE(outcome.errorText, QStringLiteral("Cannot start the package transaction: the package service did not answer"));
        QVERIFY2(clock.elapsed() < 30000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(dpkgCalls(), QStringList());
    }

    // Any bus client can send KAuth's stop request. It never reaches beyond the helper's own
    // transaction: an unrelated process holding the APT lists lock (an "apt-get update") lives
    // on, a request sent while the helper was idle is not held against the next action, and
    // once dpkg runs the transaction finishes and the reply says so.
    void stopRequest_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<bool>("asNobody");
        QTest::newRow("while idle, by uid 65534") << QStringLiteral("idle") << true;
        QTest::newRow("during dpkg, by uid 65534") << QStringLiteral("dpkg") << true;
        QTest::newRow("during dpkg, by the client") << QStringLiteral("dpkg") << false;
    }
    void stopRequest()
    {
        QFETCH(QString, when);
        QFETCH(bool, asNobody);
        QProcess holder;
        auto cleanup = qScopeGuard([&] {
            finishHeldTransaction();
            holder.kill();
            holder.waitForFinished(5000);
        });
        QVERIFY(startSleeper(holder, QStringLiteral("exec 9>%1 && /usr/bin/flock 9").arg(listsLock)));
        if (when == QLatin1String("idle")) {
            QVERIFY(HelperBus::waitUntilServing());
            QVERIFY(sendStop(HelperAction::install()));
            QTest::qWait(500);
        }
        holdDpkg();
        bool endedWhileHeld = true;
        const JobOutcome outcome = execute(HelperAction::install(), {QStringLiteral("mesa-va-drivers")}, [&](KAuth::ExecuteJob *job, const JobOutcome &sofar) {
            if (!waitFor(transactionUnderWay, 60000)) {
                qWarning("the transaction never reached dpkg");
                return;
            }
            if (when == QLatin1String("dpkg")) {
                if (asNobody) {
                    if (!sendStop(HelperAction::install())) {
                        qWarning("the stop request could not be sent");
                    }
                } else {
                    job->kill();
                }
            }
            QTest::qWait(3500); // three and more rounds of the helper's once-a-second watch
            endedWhileHeld = sofar.ended;
            releaseDpkg();
        });
        QVERIFY2(!endedWhileHeld, "the action ended while its transaction was still running");
        QVERIFY2(outcome.ended, "no result within 120 s");
        QVERIFY2(outcome.error == 0, qPrintable(outcome.errorText));
        QCOMPARE(holder.state(), QProcess::Running);
        QVERIFY(namesIn(dpkgCalls(), QStringLiteral("unpack")).contains(QStringLiteral("mesa-va-drivers")));
    }

    // Until dpkg starts, a stop cancels the transaction: nothing is installed and the reply
    // says so. Here the worker waits for APT's locks, which another process holds (locking is
    // turned on in the fixture for this case only).
    void stopBeforeDpkg()
    {
        const QString config = qEnvironmentVariable("APT_CONFIG");
        const QByteArray original = read(config);
        const QString fixture = QFileInfo(config).path();
        QProcess locker;
        auto cleanup = qScopeGuard([&] {
            locker.kill();
            locker.waitForFinished(5000);
            write(config, original);
            restartWorker();
        });
        QVERIFY(write(config, QByteArray(original).replace("Debug::NoLocking \"true\";", "Debug::NoLocking \"false\";")));
        QVERIFY(restartWorker());
        QStringList locks;
        for (const char *lock : {"/cache/archives/lock", "/state/lists/lock", "/state/dpkg/lock", "/state/dpkg/lock-frontend"}) {
            locks << fixture + QLatin1String(lock);
        }
        const QStringList script{
            QStringLiteral("-c"),
            QStringLiteral(
                "import fcntl, sys, time\nfiles = [open(p, 'a') for p in sys.argv[1:]]\nfor f in files: fcntl.lockf(f, fcntl.LOCK_EX | fcntl.LOCK_NB)\n"
                "print('ready', flush=True)\ntime.sleep(600)\n")};
        locker.start(QStringLiteral("/usr/bin/python3"), script + locks);
        QByteArray said;
        QVERIFY2(waitFor(
                     [&] {
                         return (said += locker.readAllStandardOutput()).contains("ready");
                     },
                     10000),
                 locker.readAllStandardError().constData());

        const JobOutcome outcome = execute(HelperAction::install(), {QStringLiteral("mesa-va-drivers")}, [&](KAuth::ExecuteJob *job, const JobOutcome &) {
            QTest::qWait(3000); // the transaction has started and waits for the locks
            job->kill();
        });
        QVERIFY2(outcome.ended, "no result within 120 s");
        QCOMPARE(outcome.errorText, QStringLiteral("Package transaction cancelled before dpkg started; nothing was changed"));
        QCOMPARE(dpkgCalls(), QStringList());
    }

    // A worker that stays silent (here: dpkg held without a word) past the limit ends the wait
    // with an error. The helper runs in this process, with a limit of seconds.
    void silentWorker()
    {
        auto cleanup = qScopeGuard([&] {
            finishHeldTransaction();
        });
        holdDpkg();
        DriverSwitchHelper helper;
        helper.setPackageSilenceLimitMs(3000);
        QElapsedTimer clock;
        clock.start();
        const KAuth::ActionReply reply = helper.install({{QStringLiteral("drivers"), QStringList{QStringLiteral("mesa-va-drivers")}}});
        QVERIFY(reply.failed());
        QCOMPARE(reply.errorDescription(), QStringLiteral("The package service sent no word for 3 seconds; stopped waiting for the transaction"));
        QVERIFY2(clock.elapsed() < 30000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(transactionUnderWay());
    }

    // The package worker dies in the middle of a transaction: the action ends with an error
    // instead of waiting for a signal that never comes.
    void workerLeavesTheBus()
    {
        auto cleanup = qScopeGuard([&] {
            releaseDpkg();
            QTest::qWait(500);
        });
        holdDpkg();
        QElapsedTimer sinceKill;
        const JobOutcome outcome = execute(HelperAction::install(), {QStringLiteral("mesa-va-drivers")}, [&](KAuth::ExecuteJob *, const JobOutcome &) {
            if (!waitFor(transactionUnderWay, 60000)) {
                qWarning("the transaction never reached dpkg");
                return;
            }
            const qint64 worker = read(qEnvironmentVariable("APT_TXN_DIR") + QStringLiteral("/pids/org.kubuntu.qaptworker3.pid")).trimmed().toLongLong();
            if (worker <= 1 || ::kill(pid_t(worker), SIGKILL) != 0) {
                qWarning("cannot stop the package worker");
            }
            sinceKill.start();
        });
        QVERIFY2(outcome.ended, "no result within 120 s");
        QVERIFY2(sinceKill.isValid() && sinceKill.elapsed() < 20000, "the helper did not notice the worker leaving");
        QVERIFY(outcome.error != 0);
        QVERIFY(!outcome.errorText.isEmpty());
    }

private:
    QByteArray m_extendedStates;
    static QString extendedStates()
    {
        return QFileInfo(qEnvironmentVariable("APT_CONFIG")).path() + QStringLiteral("/state/extended_states");
    }
    static void holdDpkg()
    {
        QVERIFY(write(qEnvironmentVariable("APT_TXN_DPKG_HOLD"), QByteArray()));
    }
    static void releaseDpkg()
    {
        QFile::remove(qEnvironmentVariable("APT_TXN_DPKG_HOLD"));
    }
    // Lets a held install transaction run to its end (its last dpkg call configures).
    static void finishHeldTransaction()
    {
        if (!QFile::exists(qEnvironmentVariable("APT_TXN_DPKG_HOLD"))) {
            return;
        }
        releaseDpkg();
        if (!waitFor(
                [] {
                    return dpkgCalls().join(QLatin1Char('\n')).contains(QLatin1String(" --configure "));
                },
                60000)) {
            qWarning("the held transaction did not end");
        }
        QTest::qWait(500);
    }
    // KAuth's stop request for an action, sent straight to the helper as any bus client can,
    // as uid 65534.
    static bool sendStop(const QString &action)
    {
        QProcess sender;
        sender.start(QStringLiteral("/usr/bin/setpriv"),
                     {QStringLiteral("--reuid=65534"),
                      QStringLiteral("--regid=65534"),
                      QStringLiteral("--clear-groups"),
                      QStringLiteral("--"),
                      QStringLiteral("/usr/bin/dbus-send"),
                      QStringLiteral("--system"),
                      QStringLiteral("--print-reply"),
                      QStringLiteral("--dest=") + HelperClient::helperId(),
                      QStringLiteral("/"),
                      QStringLiteral("org.kde.kf5auth.stopAction"),
                      QStringLiteral("string:") + HelperClient::actionName(action)});
        if (!sender.waitForFinished(10000) || sender.exitCode() != 0) {
            qWarning("%s", sender.readAllStandardError().constData());
            return false;
        }
        return true;
    }
    // Ends the package worker; the bus starts a fresh one, which reads APT_CONFIG anew, for the
    // next transaction.
    static bool restartWorker()
    {
        const qint64 worker = read(qEnvironmentVariable("APT_TXN_DIR") + QStringLiteral("/pids/org.kubuntu.qaptworker3.pid")).trimmed().toLongLong();
        if (worker > 1) {
            ::kill(pid_t(worker), SIGTERM);
        }
        return waitFor(
            [] {
                return !QDBusConnection::systemBus().interface()->isServiceRegistered(QStringLiteral("org.kubuntu.qaptworker3"));
            },
            10000);
    }
    // Only a committed transaction calls dpkg (see unknownPackage).
    static bool transactionUnderWay()
    {
        return !dpkgCalls().isEmpty();
    }
};

// The unprivileged client of installDeniedToNobody: executes the install action for the named
// packages and prints the job's error code, with its own time limit.
int runInstallAsCaller(const QStringList &drivers)
{
    KAuth::ExecuteJob *job = HelperClient::makeAction(HelperAction::install(), {{QStringLiteral("drivers"), drivers}}).execute();
    QEventLoop loop;
    int error = -100;
    QObject::connect(job, &KJob::result, &loop, [&](KJob *) {
        error = job->error();
        loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    job->start();
    loop.exec();
    // Like every client: the helper's answer to KAuth's call follows the job's end, and a
    // process that exits before it is damaged in Qt's exit code.
    HelperClient::awaitHelperAnswers();
    std::printf("job error %d\n", error);
    return error == -100 ? 1 : 0;
}

int main(int argc, char **argv)
{
    HarnessMain::enterHarness(argc,
                              argv,
                              {QByteArrayLiteral(KAUTH_HARNESS_DIR "/kauth-fixture-ns.sh"),
                               QByteArrayLiteral(KAUTH_HARNESS_DIR "/apt-transaction.sh"),
                               QByteArrayLiteral("--kauth"),
                               QByteArrayLiteral(KAUTH_STAGE_DIR)});
    QCoreApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], installAsCaller) == 0) {
        QStringList drivers;
        for (int i = 2; i < argc; ++i) {
            drivers << QString::fromLocal8Bit(argv[i]);
        }
        return runInstallAsCaller(drivers);
    }
    HelperTransactionsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "helpertransactionstest.moc"
