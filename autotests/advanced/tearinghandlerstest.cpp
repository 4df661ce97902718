// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The tearing handlers on a fixture home: the NVIDIA tweak file and the profile line, the
// state from a stand-in nvidia-settings, the picom settings file (read by picom's own parser
// under Xvfb when both are installed), and the manager's choice of handler and X driver.
// Runs as an ordinary user (CTest drops root), so that a read-only folder is read-only.
#include "tearinghandlers.h"
#include "device.h"
#include "tearingmanager.h"
#include "xorgsnippet.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace
{
const QByteArray marker = "# This line is generated automatically";

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &content, QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), qint64(content.size()));
    file.close();
    QVERIFY(file.setPermissions(mode));
}

// A stand-in nvidia-settings: the shell body answers the query.
QString stub(const QTemporaryDir &dir, const QByteArray &body)
{
    const QString path = dir.filePath(QStringLiteral("nvidia-settings"));
    writeFile(path, "#!/bin/sh\n" + body + "\n", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

Device device(VideoCardVendorId vendor, const QString &xorgTag)
{
    Device d;
    d.setIdentityForTest(QStringLiteral("Vendor"),
                         QStringLiteral("Name"),
                         QStringLiteral("Model"),
                         QStringLiteral("PCI:00@0000:02:0"),
                         QStringLiteral("0300"),
                         vendor);
    d.updateXOrgDriver(xorgTag);
    d.setActive(true);
    return d;
}
}

class TearingHandlersTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

    QString block() const
    {
        return QStringLiteral("\n%1\nsource %2/.config/vela-admin-video-driver-nvidia.tweak\n").arg(QString::fromLatin1(marker), m_home.path());
    }
    QByteArray oldSource() const
    {
        return "source " + QFile::encodeName(m_home.path()) + "/.config/vela-admin-driver-nvidia.tweak";
    }

private Q_SLOTS:
    void init()
    {
        QDir(m_home.path()).removeRecursively();
        QDir().mkpath(m_home.path());
    }

    void profile_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after"); // "BLOCK" stands for the generated block
        QTest::addColumn<bool>("oldTweakRemoved");

        const QByteArray old = oldSource();
        QTest::newRow("final newline") << QByteArray("export A=1\n") << QByteArray("export A=1\nBLOCK") << true;
        QTest::newRow("no final newline") << QByteArray("export A=1") << QByteArray("export A=1BLOCK") << true;
        QTest::newRow("empty") << QByteArray() << QByteArray("BLOCK") << true;
        QTest::newRow("block already there") << QByteArray("x\nBLOCK") << QByteArray("x\nBLOCK") << false;
        QTest::newRow("two old entries") << QByteArray("a\n" + marker + "\n" + old + "\nb\n" + marker + "\n" + old + "\nc\n")
                                         << QByteArray("a\n" + marker + "\n" + old + "\nb\nc\nBLOCK") << true;
        QTest::newRow("old entry without marker") << QByteArray("a\n" + old + "\n") << QByteArray("a\nBLOCK") << true;
        QTest::newRow("non-UTF-8 bytes") << QByteArray("PS1='\xff\xfe\x80'\r\n") << QByteArray("PS1='\xff\xfe\x80'\r\nBLOCK") << true;
    }
    void profile()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(bool, oldTweakRemoved);
        const QByteArray blockBytes = block().toLocal8Bit();
        before.replace("BLOCK", blockBytes);
        after.replace("BLOCK", blockBytes);

        const QString profile = m_home.filePath(QStringLiteral(".profile"));
        const QString oldTweak = m_home.filePath(QStringLiteral(".config/vela-admin-driver-nvidia.tweak"));
        writeFile(profile, before, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        writeFile(oldTweak, "old");

        NvidiaTearingHandler handler(m_home.path(), QStringLiteral("/nonexistent"), 1000);
        QVERIFY(handler.unavailableReason().isEmpty());
        QVERIFY(handler.applyTearing(true));
        QCOMPARE(readFile(profile), after);
        struct stat info {
        };
        QCOMPARE(stat(QFile::encodeName(profile).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0640));
        QCOMPARE(QFileInfo::exists(oldTweak), !oldTweakRemoved);
        QCOMPARE(readFile(m_home.filePath(QStringLiteral(".config/vela-admin-video-driver-nvidia.tweak"))),
                 QByteArray("nvidia-settings --assign CurrentMetaMode=\"nvidia-auto-select +0+0 { ForceFullCompositionPipeline = On }\""));

        // Applying again (the other way) finds the block and leaves the profile alone.
        QVERIFY(handler.applyTearing(false));
        QCOMPARE(readFile(profile), after);
        QVERIFY(readFile(handler.tweakFilePath()).contains("ForceFullCompositionPipeline = Off"));
    }

    // A profile kept elsewhere stays a link; its target gets the line.
    void symlinkedProfile()
    {
        const QString target = m_home.filePath(QStringLiteral("dotfiles/profile"));
        writeFile(target, "export B=2\n");
        QVERIFY(QFile::link(target, m_home.filePath(QStringLiteral(".profile"))));
        NvidiaTearingHandler handler(m_home.path(), QStringLiteral("/nonexistent"), 1000);
        QVERIFY(handler.applyTearing(true));
        QVERIFY(QFileInfo(m_home.filePath(QStringLiteral(".profile"))).isSymLink());
        QCOMPARE(readFile(target), QByteArray("export B=2\n") + block().toLocal8Bit());
    }

    // Nothing to source the tweak from: the switch says so, and no profile is created.
    void missingProfile()
    {
        NvidiaTearingHandler handler(m_home.path(), QStringLiteral("/nonexistent"), 1000);
        QVERIFY(!handler.unavailableReason().isEmpty());
        QTest::ignoreMessage(QtWarningMsg, "Cannot read profile file");
        QVERIFY(!handler.applyTearing(true));
        QVERIFY(!QFileInfo::exists(m_home.filePath(QStringLiteral(".profile"))));
    }

    // A home folder the user cannot write: the apply fails and the profile is as it was.
    void readOnlyFolder()
    {
        if (geteuid() == 0) {
            QSKIP("root writes into read-only folders; CTest runs this as an ordinary user");
        }
        const QByteArray before("export C=3\n");
        writeFile(m_home.filePath(QStringLiteral(".profile")), before);
        QDir().mkpath(m_home.filePath(QStringLiteral(".config")));
        QVERIFY(QFile::setPermissions(m_home.path(), QFile::ReadOwner | QFile::ExeOwner));
        NvidiaTearingHandler handler(m_home.path(), QStringLiteral("/nonexistent"), 1000);
        const bool applied = handler.addToUserProfile();
        QFile::setPermissions(m_home.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!applied);
        QCOMPARE(readFile(m_home.filePath(QStringLiteral(".profile"))), before);
        QCOMPARE(QDir(m_home.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{QStringLiteral(".profile")});
    }

    void nvidiaState_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("state");
        const QByteArray line =
            "echo \"  Attribute 'CurrentMetaMode' (host:0.0): id=50, switchable=no, source=nv-control :: DPY-1: "
            "nvidia-auto-select @1920x1080 +0+0 {ViewPortIn=1920x1080, ViewPortOut=1920x1080+0+0, ";
        QTest::newRow("on") << QByteArray(line + "ForceFullCompositionPipeline=On}\"") << true;
        QTest::newRow("off") << QByteArray(line + "ForceFullCompositionPipeline=Off}\"") << false;
        QTest::newRow("on, exit 1") << QByteArray(line + "ForceFullCompositionPipeline=On}\"; exit 1") << false;
        QTest::newRow("crash") << QByteArray(line + "ForceFullCompositionPipeline=On}\"; kill -SEGV $$") << false;
        QTest::newRow("hang") << QByteArray("sleep 30") << false;
    }
    void nvidiaState()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, state);
        QTemporaryDir bin;
        NvidiaTearingHandler handler(m_home.path(), stub(bin, body), 500);
        if (!body.contains("sleep") && (body.contains("exit 1") || body.contains("kill"))) {
            QTest::ignoreMessage(QtWarningMsg, "NVIDIA: Cannot query nvidia-settings");
        }
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(handler.loadCurrentState(), state);
        QVERIFY(clock.elapsed() < 5000); // a hanging program is given up at its limit
    }

    void picom()
    {
        PicomTearingHandler handler(m_home.path(), QStringLiteral("/bin/true"));
        const QString file = handler.configFilePath();
        const QString old = m_home.filePath(QStringLiteral(".config/vela-admin-driver-picom.conf"));

        // The older file alone is read.
        writeFile(old, PicomTearingHandler::settingsLines());
        QCOMPARE(handler.availableConfigFilePath(), old);
        QVERIFY(handler.loadCurrentState());

        for (int round = 0; round < 2; ++round) {
            QVERIFY(handler.applyTearing(true));
            QCOMPARE(readFile(file), PicomTearingHandler::settingsLines() + '\n');
            QVERIFY(handler.loadCurrentState());
        }
        QVERIFY(!QFileInfo::exists(old));
        QVERIFY(handler.applyTearing(false));
        QCOMPARE(readFile(file), QByteArray());
        QVERIFY(!handler.loadCurrentState());

        QVERIFY(!PicomTearingHandler(m_home.path(), QStringLiteral("/nonexistent/picom")).unavailableReason().isEmpty());
        qputenv("XDG_CURRENT_DESKTOP", "KDE");
        QVERIFY(handler.note().contains(QLatin1String("KWin")));
        qunsetenv("XDG_CURRENT_DESKTOP");
    }

    // picom's own parser on the files the handler writes. The file as first designed, ending
    // in an include of itself, is the control: it must be refused.
    void picomParsesFile_data()
    {
        QTest::addColumn<bool>("enable");
        QTest::addColumn<bool>("selfInclude");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("enabled") << true << false << true;
        QTest::newRow("disabled") << false << false << true;
        QTest::newRow("enabled with self-include") << true << true << false;
    }
    void picomParsesFile()
    {
        QFETCH(bool, enable);
        QFETCH(bool, selfInclude);
        QFETCH(bool, accepted);
        const QString picomProgram = QStringLiteral("/usr/bin/picom");
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (!QFileInfo(picomProgram).isExecutable() || xvfb.isEmpty()) {
            QSKIP("needs picom and Xvfb");
        }
        PicomTearingHandler handler(m_home.path(), picomProgram);
        QVERIFY(handler.applyTearing(enable));
        if (selfInclude) {
            QFile file(handler.configFilePath());
            QVERIFY(file.open(QIODevice::Append));
            file.write("\n\n@include " + QFile::encodeName(handler.configFilePath()));
        }

        // A private X server under a lower-case name, so that other tests asking "which X
        // server runs" never see it.
        QTemporaryDir run;
        const QString server = run.filePath(QStringLiteral("xvfb-private"));
        QVERIFY(QFile::link(xvfb, server));
        QProcess x;
        x.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        x.start(server, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QVERIFY(x.waitForReadyRead(10000));
        const QByteArray display = x.readAllStandardOutput().trimmed();
        QVERIFY(!display.isEmpty());

        QProcess picom;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + QString::fromLatin1(display));
        picom.setProcessEnvironment(env);
        picom.setProcessChannelMode(QProcess::MergedChannels);
        picom.start(picomProgram, {QStringLiteral("--config"), handler.configFilePath(), QStringLiteral("--log-level=debug"), QStringLiteral("--diagnostics")});
        QVERIFY(picom.waitForFinished(20000));
        const QString log = QString::fromLocal8Bit(picom.readAll());
        x.terminate();
        x.waitForFinished(5000);

        const bool configError = log.contains(QLatin1String("Error when reading configuration file"));
        QVERIFY2(configError != accepted, qPrintable(log.right(2000)));
        if (accepted) {
            // The settings were taken in: "vsync = true" makes picom look for a swap control
            // extension, which Xvfb lacks; without it picom runs and reports the file it used.
            QCOMPARE(log.contains(QLatin1String("swap control extension")), enable);
            if (!enable) {
                QVERIFY2(log.contains(QLatin1String("Config file used: ") + handler.configFilePath()), qPrintable(log.right(2000)));
            }
        }
    }

    // How the X variant reads its snippet back (and the helper the snippets it keeps aligned).
    void snippetValues_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("tearFree");
        const QByteArray head = "Section \"Device\"\n    Identifier \"Intel Graphics\"\n    Driver \"modesetting\"\n";
        QTest::newRow("true") << QByteArray(head + "    Option \"TearFree\" \"true\"\nEndSection\n") << QStringLiteral("modesetting") << QStringLiteral("true");
        QTest::newRow("false") << QByteArray(head + "    Option \"TearFree\" \"false\"\nEndSection\n") << QStringLiteral("modesetting")
                               << QStringLiteral("false");
        QTest::newRow("commented out") << QByteArray(head + "#    Option \"TearFree\" \"true\"\nEndSection\n") << QStringLiteral("modesetting") << QString();
        QTest::newRow("outside the section") << QByteArray(head + "EndSection\nOption \"TearFree\" \"true\"\n") << QStringLiteral("modesetting") << QString();
        QTest::newRow("second Device section") << QByteArray(
            "Section \"Module\"\n   Load \"modesetting\"\nEndSection\n\nSection \"Device\"\n    Driver \"nvidia\"\nEndSection\n"
            "Section \"Device\"\n    Driver \"nouveau\"\nEndSection\n")
                                               << QStringLiteral("nvidia") << QString();
        QTest::newRow("no Device section") << QByteArray("Section \"Screen\"\n    Driver \"x\"\nEndSection\n") << QString() << QString();
    }
    void snippetValues()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, driver);
        QFETCH(QString, tearFree);
        QCOMPARE(XOrgSnippet::deviceDriver(text), driver);
        QCOMPARE(XOrgSnippet::tearFreeValue(text), tearFree);
    }

    void driverName_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QByteArray>("switchSnippet");
        QTest::addColumn<QString>("expected");
        const QStringList both{QStringLiteral("amdgpu_drv.so"), QStringLiteral("modesetting_drv.so"), QStringLiteral("intel_drv.so")};
        QTest::newRow("modeset") << QStringLiteral("modeset") << both << QByteArray() << QStringLiteral("modesetting");
        QTest::newRow("AMDGPU") << QStringLiteral("AMDGPU") << both << QByteArray() << QStringLiteral("amdgpu");
        QTest::newRow("empty tag") << QString() << both << QByteArray() << QString();
        QTest::newRow("not installed") << QStringLiteral("nouveau") << both << QByteArray() << QString();
        QTest::newRow("switch snippet names intel") << QStringLiteral(
            "modeset") << both << QByteArray("Section \"Device\"\n    Identifier \"UHD 620\"\n    Driver \"intel\"\n    BusID \"PCI:0@0000:2:0\"\nEndSection\n")
                                                    << QStringLiteral("intel");
        QTest::newRow("switch snippet without driver")
            << QStringLiteral("modeset") << both << QByteArray("Section \"Device\"\n    Identifier \"x\"\nEndSection\n") << QStringLiteral("modesetting");
    }
    void driverName()
    {
        QFETCH(QString, tag);
        QFETCH(QStringList, installed);
        QFETCH(QByteArray, switchSnippet);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        for (const QString &name : installed) {
            writeFile(dir.filePath(QStringLiteral("drivers/") + name), QByteArray());
        }
        const QString snippet = dir.filePath(QStringLiteral("20-vela-admin-video-driver.conf"));
        if (!switchSnippet.isEmpty()) {
            writeFile(snippet, switchSnippet);
        }
        QCOMPARE(TearingManager::tearingDriverName(device(VideoCardVendorId::Intel, tag), {dir.filePath(QStringLiteral("drivers"))}, snippet), expected);
    }

    // Vendors without a handler, and an X driver that does not resolve: the driver switch is
    // unavailable and saving it does nothing.
    void unavailableDriverSwitch_data()
    {
        QTest::addColumn<int>("vendor");
        QTest::addColumn<QString>("tag");
        QTest::newRow("unknown vendor") << int(VideoCardVendorId::Unknown) << QStringLiteral("modeset");
        QTest::newRow("Intel, unresolved tag") << int(VideoCardVendorId::Intel) << QStringLiteral("fbdev");
    }
    void unavailableDriverSwitch()
    {
        QFETCH(int, vendor);
        QFETCH(QString, tag);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("modesetting_drv.so")), QByteArray());
        if (vendor == int(VideoCardVendorId::Unknown)) {
            QTest::ignoreMessage(QtWarningMsg, "Unknown GPU vendor, tearing prevention may not be available.");
        }
        TearingManager manager(device(static_cast<VideoCardVendorId>(vendor), tag), {dir.path()}, nullptr);
        QVERIFY(!manager.tearingUnavailableReason().isEmpty());
        QVERIFY(!manager.isTearingEnabled());
    }
};

QTEST_GUILESS_MAIN(TearingHandlersTest)
#include "tearinghandlerstest.moc"
