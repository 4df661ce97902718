// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "dialoganswerer.h"
#include "driverprogress.h"
#include "rebootrequester.h"
#include "visibleskip.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
// A stand-in for ksmserver or logind, in a child process on a private bus: prints each call it
// gets as "call MEMBER ARGS..." and answers it.
class FakeService : public QDBusVirtualObject
{
public:
    QString introspect(const QString &) const override
    {
        return QString();
    }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        QStringList words{QStringLiteral("call"), message.path(), message.interface(), message.member()};
        for (const QVariant &argument : message.arguments()) {
            words << argument.toString();
        }
        printf("%s\n", qPrintable(words.join(QLatin1Char(' '))));
        fflush(stdout);
        connection.send(message.createReply());
        return true;
    }
};

// Child modes of this test binary; -1 when started as the test itself.
int runChildMode(int argc, char **argv)
{
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (mode == "--fake-ksmserver" || mode == "--fake-logind") {
        QCoreApplication app(argc, argv);
        const bool ksm = mode == "--fake-ksmserver";
        QDBusConnection bus = ksm ? QDBusConnection::sessionBus() : QDBusConnection::systemBus();
        FakeService service;
        if (!bus.registerVirtualObject(ksm ? QStringLiteral("/KSMServer") : QStringLiteral("/org/freedesktop/login1"), &service)
            || !bus.registerService(ksm ? QStringLiteral("org.kde.ksmserver") : QStringLiteral("org.freedesktop.login1"))) {
            return 1;
        }
        printf("ready\n");
        fflush(stdout);
        return app.exec();
    }
    if (mode == "--request-reboot") {
        QCoreApplication app(argc, argv);
        RebootRequester requester = RebootRequester::systemDefault(5000);
        const bool requested = requester.request();
        printf("requested=%d tried=%s\n", int(requested), qPrintable(requester.tried().join(QLatin1Char(','))));
        return 0;
    }
    return -1;
}

// A private bus daemon for as long as the object lives.
struct PrivateBus {
    QProcess daemon;
    QString address;
    bool start()
    {
        daemon.start(QStringLiteral("/usr/bin/dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(5000)) {
            return false;
        }
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        return !address.isEmpty();
    }
    ~PrivateBus()
    {
        daemon.terminate();
        daemon.waitForFinished(5000);
    }
};

// What the administrator reads when no way to reboot worked.
const QString rebootFailed = QStringLiteral("The system could not be asked to reboot. Please reboot it yourself to complete the change.");
// A reboot back-end that only notes that it was asked.
class RecordingStrategy : public RebootStrategy
{
public:
    RecordingStrategy(QString name, bool succeeds, QStringList *calls)
        : m_name(std::move(name))
        , m_succeeds(succeeds)
        , m_calls(calls)
    {
    }
    QString name() const override
    {
        return m_name;
    }
    bool request() override
    {
        *m_calls << m_name;
        return m_succeeds;
    }

private:
    QString m_name;
    bool m_succeeds;
    QStringList *m_calls;
};
}

class TestRebootRequest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void strategyOrder_data();
    void strategyOrder();
    void questionBox_data();
    void questionBox();
    void wmFuncEnvironment_data();
    void wmFuncEnvironment();
    void wmFuncMissing();
    void realChainFailsWithoutDesktop();
    void realChainReachesService_data();
    void realChainReachesService();

private:
    QTemporaryDir m_dir;
};

void TestRebootRequest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // No session bus, and a system bus address where nothing listens: the desktop this
    // module normally runs in is not here.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("DISPLAY");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", QByteArray("unix:path=") + QFile::encodeName(m_dir.filePath(QStringLiteral("no_system_bus"))));
}

void TestRebootRequest::strategyOrder_data()
{
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<QString>("results"); // one letter per strategy: y succeeds, n fails
    QTest::addColumn<QStringList>("expectedCalls");
    QTest::addColumn<bool>("expectedRequested");
    QTest::addColumn<int>("expectedBoxes");

    const QString a = QStringLiteral("a"), b = QStringLiteral("b"), c = QStringLiteral("c");
    QTest::newRow("answer no: nothing asked") << false << QStringLiteral("yyy") << QStringList{} << false << 0;
    QTest::newRow("first takes it") << true << QStringLiteral("yyy") << QStringList{a} << true << 0;
    QTest::newRow("second takes it") << true << QStringLiteral("nyy") << QStringList{a, b} << true << 0;
    QTest::newRow("last takes it") << true << QStringLiteral("nny") << QStringList{a, b, c} << true << 0;
    QTest::newRow("none takes it: one warning") << true << QStringLiteral("nnn") << QStringList{a, b, c} << false << 1;
    QTest::newRow("no back-end at all: one warning") << true << QString() << QStringList{} << false << 1;
}

void TestRebootRequest::strategyOrder()
{
    QFETCH(bool, answerYes);
    QFETCH(QString, results);
    QFETCH(QStringList, expectedCalls);
    QFETCH(bool, expectedRequested);
    QFETCH(int, expectedBoxes);

    QStringList calls;
    std::vector<std::unique_ptr<RebootStrategy>> strategies;
    for (int i = 0; i < results.size(); ++i) {
        strategies.push_back(std::make_unique<RecordingStrategy>(QString(QLatin1Char('a' + i)), results.at(i) == QLatin1Char('y'), &calls));
    }
    RebootRequester requester(std::move(strategies));
    int questions = 0;
    DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly);

    const bool requested = DriverProgress::rebootRequest(
        [&] {
            ++questions;
            return answerYes;
        },
        requester);

    QCOMPARE(questions, 1);
    QCOMPARE(requested, expectedRequested);
    QCOMPARE(calls, expectedCalls);
    QCOMPARE(answerer.seen.size(), expectedBoxes);
    if (expectedBoxes) {
        QCOMPARE(answerer.seen.first().text, rebootFailed);
        QCOMPARE(answerer.seen.first().title, QStringLiteral("Reboot system request"));
    }
}

void TestRebootRequest::questionBox_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("note");
    QTest::addColumn<bool>("expected");
    QTest::newRow("yes") << int(QMessageBox::Yes) << QString() << true;
    QTest::newRow("no") << int(QMessageBox::No) << QString() << false;
    QTest::newRow("closed") << int(QMessageBox::Cancel) << QString() << false; // no such button: the box is closed
    QTest::newRow("yes, with a note") << int(QMessageBox::Yes)
                                      << QStringLiteral("The X server driver \"modesetting\" was written for the kernel module \"i915\".") << true;
}

void TestRebootRequest::questionBox()
{
    QFETCH(int, button);
    QFETCH(QString, note);
    QFETCH(bool, expected);
    DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly, static_cast<QMessageBox::StandardButton>(button));
    QCOMPARE(DriverProgress::askForReboot(note), expected);
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen.first().title, QStringLiteral("Reboot system request"));
    const QString question = QStringLiteral("For correct application, it is recommended to reboot the system.\nReboot now?");
    if (note.isEmpty()) {
        QCOMPARE(answerer.seen.first().text, question);
    } else {
        QCOMPARE(answerer.seen.first().text,
                 QStringLiteral("The X server driver \"modesetting\" was written for the kernel module \"i915\".\n"
                                "For correct application, it is recommended to reboot the system.\nReboot now?"));
    }
}

void TestRebootRequest::wmFuncEnvironment_data()
{
    QTest::addColumn<QByteArray>("sudoUid"); // null: not set
    QTest::addColumn<QString>("expected");
    QTest::newRow("SUDO_UID 1000") << QByteArray("1000") << QStringLiteral("VELAWM_REBOOT /run/user/1000");
    QTest::newRow("SUDO_UID unset") << QByteArray() << QStringLiteral("VELAWM_REBOOT /run/user/");
}

void TestRebootRequest::wmFuncEnvironment()
{
    QFETCH(QByteArray, sudoUid);
    QFETCH(QString, expected);

    // Stands in for the window manager's tool: notes its argument and runtime folder.
    const QString record = m_dir.filePath(QStringLiteral("wmfunc.out"));
    QFile::remove(record);
    const QString program = m_dir.filePath(QStringLiteral("wmfunc"));
    QFile script(program);
    QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
    script.write("#!/bin/sh\nprintf '%s %s' \"$1\" \"$XDG_RUNTIME_DIR\" > '" + QFile::encodeName(record) + "'\n");
    script.close();
    QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));

    const QByteArray saved = qgetenv("SUDO_UID");
    const bool wasSet = qEnvironmentVariableIsSet("SUDO_UID");
    if (sudoUid.isNull()) {
        qunsetenv("SUDO_UID");
    } else {
        qputenv("SUDO_UID", sudoUid);
    }
    qputenv("XDG_RUNTIME_DIR", "/run/user/4242");
    WmFuncReboot wmfunc(program);
    const bool requested = wmfunc.request();
    wasSet ? qputenv("SUDO_UID", saved) : qunsetenv("SUDO_UID");

    QVERIFY(requested);
    QFile out(record);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLocal8Bit(out.readAll()), expected);
}

void TestRebootRequest::wmFuncMissing()
{
    WmFuncReboot wmfunc(m_dir.filePath(QStringLiteral("no-such-tool")));
    QVERIFY(!wmfunc.request());
}

void TestRebootRequest::realChainFailsWithoutDesktop()
{
    if (QFileInfo::exists(QStringLiteral("/usr/bin/vela-wmfunc"))) {
        TEST_SKIP("the window manager's tool is installed here; it would really log out");
    }
    RebootRequester requester = RebootRequester::systemDefault(2000);
    DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!DriverProgress::rebootRequest(
        [] {
            return true;
        },
        requester));
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(requester.tried(), (QStringList{QStringLiteral("wmfunc"), QStringLiteral("ksmserver"), QStringLiteral("logind")}));
    QCOMPARE(answerer.shownTexts(), QStringList{rebootFailed});
}

// The real chain, over real buses: the window manager's tool is not there, so the request goes
// to ksmserver on the session bus; without ksmserver, to logind on the system bus. The one that
// answers ends the chain, with the arguments that ask for a reboot without another question.
void TestRebootRequest::realChainReachesService_data()
{
    QTest::addColumn<QString>("service");
    QTest::addColumn<QString>("tried");
    QTest::addColumn<QString>("call");
    QTest::newRow("ksmserver") << QStringLiteral("ksmserver") << QStringLiteral("wmfunc,ksmserver")
                               << QStringLiteral("call /KSMServer org.kde.KSMServerInterface logout 0 1 1");
    QTest::newRow("logind") << QStringLiteral("logind") << QStringLiteral("wmfunc,ksmserver,logind")
                            << QStringLiteral("call /org/freedesktop/login1 org.freedesktop.login1.Manager Reboot true");
}

void TestRebootRequest::realChainReachesService()
{
    QFETCH(QString, service);
    QFETCH(QString, tried);
    QFETCH(QString, call);
    if (QFileInfo::exists(QStringLiteral("/usr/bin/vela-wmfunc"))) {
        TEST_SKIP("the window manager's tool is installed here; it would really log out");
    }
    PrivateBus session, system;
    QVERIFY(session.start());
    QVERIFY(system.start());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), session.address);
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), system.address);
    env.remove(QStringLiteral("DISPLAY"));

    QProcess fake;
    fake.setProcessEnvironment(env);
    fake.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--fake-") + service});
    QVERIFY(fake.waitForReadyRead(10000));
    QCOMPARE(fake.readLine(), QByteArray("ready\n"));

    QProcess client;
    client.setProcessEnvironment(env);
    client.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--request-reboot")});
    QVERIFY(client.waitForFinished(30000));
    QCOMPARE(QString::fromUtf8(client.readAllStandardOutput()), QStringLiteral("requested=1 tried=%1\n").arg(tried));
    QTRY_VERIFY_WITH_TIMEOUT(fake.canReadLine(), 5000);
    QCOMPARE(QString::fromUtf8(fake.readAllStandardOutput()), call + QLatin1Char('\n'));
    fake.kill();
    fake.waitForFinished(5000);
}

int main(int argc, char **argv)
{
    const int child = runChildMode(argc, argv);
    if (child >= 0) {
        return child;
    }
    QApplication app(argc, argv);
    TestRebootRequest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return VisibleSkip::runStatus(QTest::qExec(&test, argc, argv));
}
#include "rebootrequesttest.moc"
