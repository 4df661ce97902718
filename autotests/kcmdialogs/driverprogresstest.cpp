// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "driverprogress.h"
#include "asnobody.h"
#include "dialoganswerer.h"
#include "helperclient.h"
#include "visibleskip.h"

#include <KAuth/Action>
#include <KAuth/ActionReply>
#include <KAuth/ExecuteJob>

#include <QElapsedTimer>
#include <QProgressBar>
#include <QSignalSpy>
#include <QtTest>

#include <unistd.h>

// Follows real KAuth jobs of a test helper on a private system bus with polkit; run through
// autotests/harness/testbus-kauthjob.sh.
class TestDriverProgress : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void showsHelperProgress();
    void successClosesAndReports();
    void failedJobShowsHelperDescription();
    void jobFailingAtOnce_data();
    void jobFailingAtOnce();
    void failureStatusClosesBeforeResult_data();
    void failureStatusClosesBeforeResult();
    void deniedAuthorisation();

private:
    static KAuth::ExecuteJob *testJob(const QString &action, const QVariantMap &args = {})
    {
        KAuth::Action a(QStringLiteral(TEST_HELPER_ID ".") + action);
        a.setHelperId(QStringLiteral(TEST_HELPER_ID));
        a.setArguments(args);
        a.setTimeout(60000);
        return a.execute();
    }
    // Runs the dialog modally, closing it after a minute should the job never end.
    static bool execWithWatchdog(DriverProgress &dialog)
    {
        bool watchdogFired = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, &dialog, [&] {
            watchdogFired = true;
            dialog.reject();
        });
        watchdog.start(60000);
        dialog.exec();
        return !watchdogFired;
    }
    void requireRoot()
    {
        if (getuid() != 0) {
            TEST_SKIP("needs a root caller; the unprivileged run covers only the refusal");
        }
    }
};

void TestDriverProgress::initTestCase()
{
    if (!qEnvironmentVariableIsSet("CORVO_TEST_SYSTEM_BUS")) {
        TEST_SKIP("needs the private system bus of autotests/harness/testbus-kauthjob.sh");
    }
}

// The helper answers KAuth's call just after the job has ended; every test leaves only once
// that answer is in, so that the process never exits with a call open (Qt's exit code would
// free it under KAuth's watcher).
void TestDriverProgress::cleanup()
{
    QVERIFY(HelperClient::awaitHelperAnswers());
}

void TestDriverProgress::showsHelperProgress()
{
    requireRoot();
    DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly);
    KAuth::ExecuteJob *job = testJob(QStringLiteral("progress"));
    DriverProgress dialog(job);
    QSignalSpy finished(&dialog, SIGNAL(finished(bool)));
    auto *bar = dialog.findChild<QProgressBar *>(QStringLiteral("progressBar"));
    QVERIFY(bar);
    QCOMPARE(bar->value(), 0);

    // Connected after the dialog: sees the bar once the dialog has handled the step.
    QList<int> barAtStep;
    connect(job, &KJob::percentChanged, this, [&] {
        barAtStep << bar->value();
    });
    QVERIFY(execWithWatchdog(dialog));

    QCOMPARE(barAtStep, QList<int>{37});
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toBool(), true);
    QVERIFY(answerer.seen.isEmpty());
    QVERIFY(!dialog.isVisible());
}

void TestDriverProgress::successClosesAndReports()
{
    requireRoot();
    DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly);
    DriverProgress dialog(testJob(QStringLiteral("succeed")));
    QSignalSpy finished(&dialog, SIGNAL(finished(bool)));
    QVERIFY(execWithWatchdog(dialog));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toBool(), true);
    QVERIFY(answerer.seen.isEmpty());
    // Nothing more arrives later.
    QTest::qWait(200);
    QCOMPARE(finished.count(), 1);
}

void TestDriverProgress::failedJobShowsHelperDescription()
{
    requireRoot();
    const QString description = QStringLiteral("Test helper failure: no space left on device");
    DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly);
    DriverProgress dialog(testJob(QStringLiteral("fail"), {{QStringLiteral("description"), description}}));
    QSignalSpy finished(&dialog, SIGNAL(finished(bool)));
    // A helper's error reply carries the code -1.
    QTest::ignoreMessage(QtCriticalMsg, qPrintable(QStringLiteral("Error code -1, text: \"%1\"!").arg(description)));
    QVERIFY(execWithWatchdog(dialog));
    QCOMPARE(answerer.shownTexts(), QStringList{QStringLiteral("Transaction error: ") + description});
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toBool(), false);
    QVERIFY(!dialog.isVisible());
}

void TestDriverProgress::jobFailingAtOnce_data()
{
    QTest::addColumn<bool>("eventsBeforeExec");
    QTest::newRow("exec right after construction") << false;
    QTest::newRow("events processed before exec") << true;
}

// An action without a name fails inside start(), before any bus traffic.
void TestDriverProgress::jobFailingAtOnce()
{
    QFETCH(bool, eventsBeforeExec);
    DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly);
    KAuth::Action invalid;
    DriverProgress dialog(invalid.execute());
    QSignalSpy finished(&dialog, SIGNAL(finished(bool)));
    QElapsedTimer clock;
    clock.start();
    if (eventsBeforeExec) {
        // The box is answered from here too; the result has passed when exec() comes.
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    }
    QVERIFY(execWithWatchdog(dialog));
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toBool(), false);
    QCOMPARE(answerer.seen.size(), 1);
    QVERIFY(answerer.seen.first().text.startsWith(QLatin1String("Transaction error: ")));
    QVERIFY(answerer.seen.first().text.size() > QStringLiteral("Transaction error: ").size());
    QVERIFY(!dialog.isVisible());
}

void TestDriverProgress::failureStatusClosesBeforeResult_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("logLine"); // empty: the status changes nothing
    QTest::newRow("denied") << int(KAuth::Action::DeniedStatus) << QStringLiteral("Package processing action denied");
    QTest::newRow("error") << int(KAuth::Action::ErrorStatus) << QStringLiteral("Package processing aciton reported an error");
    QTest::newRow("invalid") << int(KAuth::Action::InvalidStatus) << QStringLiteral("Invalid action");
    QTest::newRow("user cancelled") << int(KAuth::Action::UserCancelledStatus) << QStringLiteral("User cancelled");
    QTest::newRow("authorized") << int(KAuth::Action::AuthorizedStatus) << QString();
    QTest::newRow("auth required") << int(KAuth::Action::AuthRequiredStatus) << QString();
}

// A failure status closes the dialog at once; the job's result still follows and is the only
// thing that shows a box and reports.
void TestDriverProgress::failureStatusClosesBeforeResult()
{
    requireRoot();
    QFETCH(int, status);
    QFETCH(QString, logLine);
    DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly);
    KAuth::ExecuteJob *job = testJob(QStringLiteral("progress"), {{QStringLiteral("holdMs"), 800}});
    DriverProgress dialog(job);
    QSignalSpy finished(&dialog, SIGNAL(finished(bool)));
    bool visibleAfterStatus = true;
    int boxesAtStatus = -1;
    // Queued behind the dialog's own start of the job: the job is running, no result yet.
    QTimer::singleShot(0, &dialog, [&] {
        QTimer::singleShot(50, &dialog, [&] {
            if (!logLine.isEmpty()) {
                QTest::ignoreMessage(QtWarningMsg, qPrintable(logLine));
            }
            QMetaObject::invokeMethod(&dialog, "jobStatusChanged", Q_ARG(KAuth::Action::AuthStatus, static_cast<KAuth::Action::AuthStatus>(status)));
            visibleAfterStatus = dialog.isVisible();
            boxesAtStatus = answerer.seen.size();
        });
    });
    QVERIFY(execWithWatchdog(dialog));
    QCOMPARE(boxesAtStatus, 0);
    QCOMPARE(visibleAfterStatus, logLine.isEmpty());
    // When the status closed the dialog, exec() returned before the result.
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
    QTest::qWait(100);
    QCOMPARE(finished.count(), 1);
    // The job itself succeeds; the status alone shows no box.
    QCOMPARE(finished.first().first().toBool(), true);
    QVERIFY(answerer.seen.isEmpty());
}

// Run as an unprivileged user without an authentication agent: polkit refuses. Root is always
// authorised, so a root run repeats this case in a child as uid 65534 on the same bus.
void TestDriverProgress::deniedAuthorisation()
{
    if (getuid() == 0) {
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(AsNobody::program(), AsNobody::arguments(QCoreApplication::applicationFilePath(), {QStringLiteral("deniedAuthorisation")}));
        QVERIFY(child.waitForFinished(120000));
        const QByteArray output = child.readAll();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
        QVERIFY2(output.contains("PASS   : TestDriverProgress::deniedAuthorisation()"), output.constData());
        return;
    }
    DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly);
    KAuth::ExecuteJob *job = testJob(QStringLiteral("succeed"));
    int jobError = -100;
    connect(job, &KJob::result, this, [&](KJob *j) {
        jobError = j->error();
    });
    DriverProgress dialog(job);
    QSignalSpy finished(&dialog, SIGNAL(finished(bool)));
    QVERIFY(execWithWatchdog(dialog));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
    QCOMPARE(jobError, 4); // KAuth's AuthorizationDeniedError
    QCOMPARE(finished.first().first().toBool(), false);
    QCOMPARE(answerer.shownTexts(), QStringList{QStringLiteral("Transaction error: Authorization denied.")});
    QTest::qWait(300);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(answerer.seen.size(), 1);
}

VISIBLE_SKIP_MAIN(TestDriverProgress)
#include "driverprogresstest.moc"
