// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The benchmark page against a stand-in glmark2 that replays recorded output of the real one
// (with-glmark2.sh stub): what a finished, failed, crashed, stopped or abandoned run shows and
// stores, the score fields across runs, and the progress of a run.
#include "benchmarkpage.h"
#include "benchmarkscorefile.h"
#include "benchmarkstorage.h"
#include "glmarkoutput.h"

#include "dialoganswerer.h"
#include "visibleskip.h"
#include "widgetlookup.h"

#include <KMessageWidget>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <unistd.h>

namespace
{
const QString runText = QStringLiteral("Run a performance test");
const QString stopText = QStringLiteral("Stop the performance test");
const QString errorBox = QStringLiteral("Benchmarking software encountered an error");
const QString noScoreBox = QStringLiteral("Couldn't get benchmarking score");
const QString noData = QStringLiteral("No data");

QByteArray fixture(const char *name)
{
    QFile file(QStringLiteral(FIXTURE_DIR "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly)) {
        qFatal("missing fixture %s", name);
    }
    return file.readAll();
}

// What the stand-in glmark2 does on its next start.
void stub(const QByteArray &outputs, const QByteArray &end, const QByteArray &probeStatus = "0")
{
    qputenv("GLMARK2_STUB_OUTPUT", outputs);
    qputenv("GLMARK2_STUB_END", end);
    qputenv("GLMARK2_STUB_PROBE", probeStatus);
}

Device adapter(VideoCardVendorId vendor, const QString &module)
{
    Device device;
    device.setIdentityForTest(QStringLiteral("Vendor"),
                              QStringLiteral("Test GPU %1").arg(module),
                              QStringLiteral("Model"),
                              QStringLiteral("PCI:1@0:0:0"),
                              QStringLiteral("0300"),
                              vendor);
    device.setDriverListForTest({{module, module, QString()}}, 0);
    return device;
}

QString text(BenchmarkPage *page, const char *name)
{
    return child<QSpinBox>(page, name)->text();
}

// The processes this test has started and not yet reaped.
int childProcesses()
{
    int children = 0;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!entry.toInt() || !stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        // "pid (name) state ppid ...": the name may hold blanks, so count from its end.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == ::getpid()) {
            ++children;
        }
    }
    return children;
}
}

class BenchmarkPageTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

    // Waits until the page knows whether glmark2 is there.
    static bool settled(BenchmarkPage *page)
    {
        return QTest::qWaitFor([page] {
            return !page->isEnabled() || child<QPushButton>(page, "runBenchmarkBtn")->isEnabled();
        });
    }

    static QList<QSqlRecord> storedRuns()
    {
        std::unique_ptr<BenchmarkSqlModel> model(BenchmarkStorage::instance()->createModel(nullptr));
        QList<QSqlRecord> records;
        for (int row = 0; model && row < model->rowCount(); ++row) {
            records.append(model->record(row));
        }
        return records;
    }

    static void writeFile(const QString &path, const QByteArray &content)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Outside it, /usr/bin/glmark2 is the host's, and a run takes minutes.
        QVERIFY2(qgetenv("GLMARK2_STUB_NAMESPACE") == "1", "runs only through with-glmark2.sh stub");
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toLocal8Bit());
        QVERIFY(QDir().mkpath(m_home.filePath(QStringLiteral(".config"))));
        QCOMPARE(BenchmarkScoreFile::scoreFilePath(), m_home.filePath(QStringLiteral(".config/vela-admin-video-driver.score")));
        QVERIFY(BenchmarkStorage::instance()->isOpen());
    }

    void init()
    {
        QFile::remove(BenchmarkScoreFile::scoreFilePath());
        QFile::remove(BenchmarkScoreFile::olderScoreFilePath());
        QVERIFY(BenchmarkStorage::instance()->clearAll());
        qunsetenv("NVIDIA_SMI_STUB_OUTPUT");
    }

    void presence_data()
    {
        QTest::addColumn<QByteArray>("probeStatus");
        QTest::addColumn<QByteArray>("olderFile");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<QString>("previous");

        QTest::newRow("-h exits 0, older file ' 987\\n'") << QByteArray("0") << QByteArray(" 987\n") << true << QStringLiteral("987");
        QTest::newRow("-h exits 0, older file 'abc'") << QByteArray("0") << QByteArray("abc") << true << noData;
        QTest::newRow("-h exits 1") << QByteArray("1") << QByteArray("987") << false << noData;
    }
    void presence()
    {
        QFETCH(QByteArray, probeStatus);
        QFETCH(QByteArray, olderFile);
        QFETCH(bool, usable);
        QFETCH(QString, previous);
        writeFile(BenchmarkScoreFile::olderScoreFilePath(), olderFile);
        stub("", "exit:0", probeStatus);

        BenchmarkPage page(Device(), nullptr);
        page.show();
        QVERIFY(settled(&page));
        QCOMPARE(page.isEnabled(), usable);
        QCOMPARE(child<KMessageWidget>(&page, "messageGlmarkNotDetected")->isVisible(), !usable);
        QCOMPARE(text(&page, "prevScoreSpBox"), previous);
        QCOMPARE(text(&page, "currentScoreSpBox"), noData);
    }

    // One run to its end: what it shows, whether it complains, what it stores.
    void finishedRun_data()
    {
        QTest::addColumn<QByteArray>("outputs");
        QTest::addColumn<QByteArray>("end");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("current");

        QTest::newRow("two runs' output, the first score counts")
            << QByteArray("default-run.out build-run.out") << QByteArray("exit:0") << QString() << QStringLiteral("65");
        QTest::newRow("score 999999999") << QByteArray("score-999999999.out") << QByteArray("exit:0") << QString() << QStringLiteral("999999999");
        QTest::newRow("score 1000000000") << QByteArray("score-1000000000.out") << QByteArray("exit:0") << noScoreBox << noData;
        QTest::newRow("validation output, no score") << QByteArray("validate.out") << QByteArray("exit:0") << noScoreBox << noData;
        QTest::newRow("no display, exit 1") << QByteArray() << QByteArray("exit:1") << errorBox << noData;
        QTest::newRow("score, then exit 1") << QByteArray("build-run.out") << QByteArray("exit:1") << errorBox << noData;
        QTest::newRow("crash mid-run") << QByteArray("interrupted.out") << QByteArray("signal:SEGV") << errorBox << noData;
    }
    void finishedRun()
    {
        QFETCH(QByteArray, outputs);
        QFETCH(QByteArray, end);
        QFETCH(QString, box);
        QFETCH(QString, current);
        stub(outputs, end);
        DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly);
        BenchmarkPage page(adapter(VideoCardVendorId::Amd, QStringLiteral("amdgpu")), nullptr);
        page.show();
        QVERIFY(settled(&page));

        child<QPushButton>(&page, "runBenchmarkBtn")->click();
        QTRY_VERIFY(!page.isRunning());
        if (box.isEmpty()) {
            QTRY_COMPARE(text(&page, "currentScoreSpBox"), current);
            const QList<QSqlRecord> runs = storedRuns();
            QCOMPARE(runs.size(), 1);
            QCOMPARE(runs.first().value(QStringLiteral("fps")).toString(), current);
            QCOMPARE(runs.first().value(QStringLiteral("gpu")).toString(), QStringLiteral("Test GPU amdgpu"));
            QCOMPARE(runs.first().value(QStringLiteral("driver")).toString(), QStringLiteral("amdgpu"));
            QCOMPARE(BenchmarkScoreFile::readScore(BenchmarkScoreFile::scoreFilePath()), current.toInt());
        } else {
            QTRY_COMPARE(answerer.seen.size(), 1);
            QCOMPARE(answerer.seen.first().text, box);
            QCOMPARE(text(&page, "currentScoreSpBox"), current);
            QVERIFY(storedRuns().isEmpty());
            QVERIFY(!QFile::exists(BenchmarkScoreFile::scoreFilePath()));
        }
        QTest::qWait(50); // no second box
        QCOMPARE(answerer.seen.size(), box.isEmpty() ? 0 : 1);
        QCOMPARE(child<QPushButton>(&page, "runBenchmarkBtn")->text(), runText);
        QVERIFY(!child<QProgressBar>(&page, "runProgressBar")->isVisible());
    }

    // The driver text stored with a run, built from the adapter the page was made for.
    void storedDriver_data()
    {
        QTest::addColumn<Device>("device");
        QTest::addColumn<QByteArray>("nvidiaSmi");
        QTest::addColumn<QString>("gpu");
        QTest::addColumn<QString>("driver");

        QTest::newRow("no active adapter") << Device() << QByteArray() << QString() << QString();
        QTest::newRow("Intel, i915") << adapter(VideoCardVendorId::Intel, QStringLiteral("i915")) << QByteArray("535.104.05") << QStringLiteral("Test GPU i915")
                                     << QStringLiteral("i915");
        QTest::newRow("NVIDIA, one adapter") << adapter(VideoCardVendorId::Nvidia, QStringLiteral("nvidia")) << QByteArray("535.104")
                                             << QStringLiteral("Test GPU nvidia") << QStringLiteral("nvidia_535.104");
        QTest::newRow("NVIDIA, two adapters") << adapter(VideoCardVendorId::Nvidia, QStringLiteral("nvidia")) << QByteArray("535.104.05|470.256.02")
                                              << QStringLiteral("Test GPU nvidia") << QStringLiteral("nvidia_535.104.05");
        QTest::newRow("NVIDIA, nvidia-smi fails") << adapter(VideoCardVendorId::Nvidia, QStringLiteral("nouveau")) << QByteArray()
                                                  << QStringLiteral("Test GPU nouveau") << QStringLiteral("nouveau");
    }
    void storedDriver()
    {
        QFETCH(Device, device);
        QFETCH(QByteArray, nvidiaSmi);
        QFETCH(QString, gpu);
        QFETCH(QString, driver);
        if (!nvidiaSmi.isEmpty()) {
            qputenv("NVIDIA_SMI_STUB_OUTPUT", nvidiaSmi);
        }
        stub("build-run.out", "exit:0");
        BenchmarkPage page(device, nullptr);
        QVERIFY(settled(&page));
        page.launch();
        QTRY_COMPARE(storedRuns().size(), 1);
        const QSqlRecord run = storedRuns().first();
        QCOMPARE(run.value(QStringLiteral("fps")).toInt(), 132);
        QCOMPARE(run.value(QStringLiteral("gpu")).toString(), gpu);
        QCOMPARE(run.value(QStringLiteral("driver")).toString(), driver);
        QCOMPARE(text(&page, "currentScoreSpBox"), QStringLiteral("132"));
    }

    // Two runs of one page, with or without a score from an earlier session.
    void scoreFields_data()
    {
        QTest::addColumn<QByteArray>("storedFile"); // older score file; empty: none
        QTest::addColumn<QString>("previousAfterFirst");

        QTest::newRow("first run ever") << QByteArray() << noData;
        QTest::newRow("older file holds 1200") << QByteArray("1200") << QStringLiteral("1200");
    }
    void scoreFields()
    {
        QFETCH(QByteArray, storedFile);
        QFETCH(QString, previousAfterFirst);
        if (!storedFile.isEmpty()) {
            writeFile(BenchmarkScoreFile::olderScoreFilePath(), storedFile);
        }
        BenchmarkPage page(Device(), nullptr);
        QVERIFY(settled(&page));

        stub("default-run.out", "exit:0");
        page.launch();
        QTRY_COMPARE(text(&page, "currentScoreSpBox"), QStringLiteral("65"));
        QCOMPARE(text(&page, "prevScoreSpBox"), previousAfterFirst);
        QCOMPARE(BenchmarkScoreFile::availablePath(), BenchmarkScoreFile::scoreFilePath());
        QVERIFY(!QFile::exists(BenchmarkScoreFile::olderScoreFilePath()));

        stub("build-run.out", "exit:0");
        page.launch();
        QTRY_COMPARE(text(&page, "currentScoreSpBox"), QStringLiteral("132"));
        QCOMPARE(text(&page, "prevScoreSpBox"), QStringLiteral("65"));
        QCOMPARE(BenchmarkScoreFile::readScore(BenchmarkScoreFile::scoreFilePath()), 132);
        QCOMPARE(storedRuns().size(), 2);
    }

    void scoreFileUnwritable()
    {
        writeFile(BenchmarkScoreFile::olderScoreFilePath(), "1200");
        // Root writes anywhere: a link into a missing folder is what cannot be written here. As
        // a dangling link the score file does not exist, so the older file is read.
        QVERIFY(QFile::link(m_home.filePath(QStringLiteral("missing/x.score")), BenchmarkScoreFile::scoreFilePath()));
        BenchmarkPage page(Device(), nullptr);
        QVERIFY(settled(&page));
        QCOMPARE(text(&page, "prevScoreSpBox"), QStringLiteral("1200"));
        stub("build-run.out", "exit:0");
        page.launch();
        QTRY_COMPARE(text(&page, "currentScoreSpBox"), QStringLiteral("132"));
        QCOMPARE(text(&page, "prevScoreSpBox"), noData);
        QCOMPARE(storedRuns().size(), 1);
        QVERIFY(!QFile::exists(m_home.filePath(QStringLiteral("missing"))));
    }

    // glmark2 gone since the page found it: the start fails, and nothing would ever finish.
    void programVanished()
    {
        stub("build-run.out", "exit:0");
        DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly);
        BenchmarkPage page(Device(), nullptr);
        page.show();
        QVERIFY(settled(&page));
        const QString program = QStringLiteral("/usr/bin/glmark2");
        const QFileDevice::Permissions runnable = QFile::permissions(program);
        QVERIFY(QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        child<QPushButton>(&page, "runBenchmarkBtn")->click();
        QTRY_COMPARE(answerer.shownTexts(), QStringList{errorBox});
        QVERIFY(QFile::setPermissions(program, runnable));
        QVERIFY(!page.isRunning());
        QCOMPARE(child<QPushButton>(&page, "runBenchmarkBtn")->text(), runText);
        QVERIFY(!child<QProgressBar>(&page, "runProgressBar")->isVisible());
        QVERIFY(storedRuns().isEmpty());
    }

    // A run that hangs: its progress, a second start, and the three ways it ends.
    void hangingRun_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QString>("box");

        QTest::newRow("Stop pressed") << QStringLiteral("stop") << QString();
        QTest::newRow("dialog closed") << QStringLiteral("close") << QString();
        QTest::newRow("time limit passed") << QStringLiteral("limit") << errorBox;
    }
    void hangingRun()
    {
        QFETCH(QString, ending);
        QFETCH(QString, box);
        stub("interrupted.out", "hang");
        DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly);
        auto page = std::make_unique<BenchmarkPage>(adapter(VideoCardVendorId::Amd, QStringLiteral("amdgpu")), nullptr);
        page->show();
        QVERIFY(settled(page.get()));
        auto *button = child<QPushButton>(page.get(), "runBenchmarkBtn");
        button->click();
        auto *status = child<QLabel>(page.get(), "runStatusLabel");
        QTRY_COMPARE(status->text(), QStringLiteral("Measuring [texture] texture-filter=linear (3 scenes done)"));
        QVERIFY(child<QProgressBar>(page.get(), "runProgressBar")->isVisible());
        QCOMPARE(button->text(), stopText);
        QVERIFY(button->isEnabled());

        QTest::ignoreMessage(QtWarningMsg, "Benchmark process is already running.");
        page->launch();
        QVERIFY(page->isRunning());

        QElapsedTimer clock;
        clock.start();
        if (ending == QLatin1String("stop")) {
            button->click();
            QTRY_VERIFY(!page->isRunning());
            QCOMPARE(button->text(), runText);
            QVERIFY(!status->isVisible());
        } else if (ending == QLatin1String("close")) {
            page.reset();
        } else {
            QTest::ignoreMessage(QtWarningMsg, "The benchmark did not finish in time and is ended.");
            page->setRunTimeLimit(50); // takes effect on the running limit at once
            QTRY_VERIFY(!page->isRunning());
        }
        QVERIFY2(clock.elapsed() < 2000, "ending the run took seconds: SIGTERM did not end it");
        QCOMPARE(childProcesses(), 0);
        QTest::qWait(100);
        QCOMPARE(answerer.shownTexts(), box.isEmpty() ? QStringList() : QStringList{box});
        QVERIFY(storedRuns().isEmpty());
        QVERIFY(!QFile::exists(BenchmarkScoreFile::scoreFilePath()));
        if (page) {
            QCOMPARE(text(page.get(), "currentScoreSpBox"), noData);
        }
    }

    // glmark2's output split anywhere gives the same progress; a NUL byte ends the text.
    void output_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("chunk");
        QTest::addColumn<int>("scenesDone");
        QTest::addColumn<QString>("scene");
        QTest::addColumn<QString>("score");

        const QByteArray interrupted = fixture("interrupted.out");
        const QByteArray finished = fixture("build-run.out");
        QTest::newRow("interrupted, whole") << interrupted << interrupted.size() << 3 << QStringLiteral("[texture] texture-filter=linear") << QString();
        QTest::newRow("interrupted, 1 byte at a time") << interrupted << 1 << 3 << QStringLiteral("[texture] texture-filter=linear") << QString();
        QTest::newRow("interrupted, 7 bytes at a time") << interrupted << 7 << 3 << QStringLiteral("[texture] texture-filter=linear") << QString();
        QTest::newRow("finished, 5 bytes at a time") << finished << 5 << 1 << QString() << QStringLiteral("132");
        QTest::newRow("finished, NUL before the score")
            << QByteArray(finished).replace("glmark2 Score", QByteArray("glmark2\0Score", 13)) << 64 << 1 << QString() << QString();
        QTest::newRow("empty") << QByteArray() << 1 << 0 << QString() << QString();
    }
    void output()
    {
        QFETCH(QByteArray, output);
        QFETCH(int, chunk);
        QFETCH(int, scenesDone);
        QFETCH(QString, scene);
        QFETCH(QString, score);
        GlmarkOutput parsed;
        for (int at = 0; at < output.size(); at += chunk) {
            parsed.append(output.mid(at, chunk));
        }
        QCOMPARE(parsed.all(), output);
        QCOMPARE(parsed.scenesDone(), scenesDone);
        QCOMPARE(parsed.currentScene(), scene);
        QCOMPARE(GlmarkOutput::scoreText(parsed.all()), score);
    }
};

VISIBLE_SKIP_MAIN(BenchmarkPageTest)
#include "benchmarkpagetest.moc"
