#include "visibleskip.h"
#include "dialoganswerer.h"
#include "driverprogress.h"
#include "rebootrequester.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
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
    QTest::addColumn<bool>("expected");
    QTest::newRow("yes") << int(QMessageBox::Yes) << true;
    QTest::newRow("no") << int(QMessageBox::No) << false;
    QTest::newRow("closed") << int(QMessageBox::Cancel) << false; // no such button: the box is closed
}

void TestRebootRequest::questionBox()
{
    QFETCH(int, button);
    QFETCH(bool, expected);
    DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly, static_cast<QMessageBox::StandardButton>(button));
    QCOMPARE(DriverProgress::askForReboot(), expected);
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen.first().title, QStringLiteral("Reboot system request"));
    QCOMPARE(answerer.seen.first().text, QStringLiteral("For correct application, it is recommended to reboot the system.\nReboot now?"));
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
    QVERIFY(!DriverProgress::rebootRequest([] { return true; }, requester));
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(requester.tried(), (QStringList{QStringLiteral("wmfunc"), QStringLiteral("ksmserver"), QStringLiteral("logind")}));
    QCOMPARE(answerer.shownTexts(), QStringList{rebootFailed});
}

VISIBLE_SKIP_MAIN(TestRebootRequest)
#include "tst_rebootrequest.moc"
