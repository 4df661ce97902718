// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The helper's replace, tearing and acceleration slots called in-process, writing to the real
// system paths inside the fixture namespace of kauth-fixture-ns.sh.
#include "driverswitchhelper.h"
#include "fixturefs.h"
#include "harnessmain.h"
#include "systempaths.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <sys/mount.h>
#include <unistd.h>

using namespace FixtureFs;

namespace
{
const QString snippet = QStringLiteral("/etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf");
const QString oldSnippet = QStringLiteral("/etc/X11/xorg.conf.d/20-vela-admin-driver.conf");
const QString mark = QStringLiteral("/run/corvo-video-driver/backup.mark");
const QString backupDir = QStringLiteral("/usr/share/vela-admin-video-driver");
const QString grub = QStringLiteral("/etc/default/grub");
const QString updateGrub = QStringLiteral("/usr/sbin/update-grub");
const QString updateGrubRan = QStringLiteral("/tmp/update-grub.ran");
// The multiarch driver folder, the plain one and NVIDIA's, as the build configured them.
const QStringList driverDirs = SystemPaths::xorgDriverDirs();

const QByteArray grubText = "GRUB_DEFAULT=0\nGRUB_TIMEOUT=5\nGRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\nGRUB_CMDLINE_LINUX=\"\"\n";

struct RestoreRun {
    int exitCode = -1;
    QString out;
    QString err;
};

RestoreRun runRestore(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral(RESTORE_BINARY), args);
    RestoreRun run;
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
    }
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The backup generations, oldest first.
QStringList generations()
{
    QStringList names = QDir(backupDir).entryList({QStringLiteral("2*")}, QDir::Dirs | QDir::NoSymLinks, QDir::Name);
    return names;
}

QString replyText(const KAuth::ActionReply &reply)
{
    return reply.succeeded() ? QString() : reply.errorDescription();
}

QVariantMap replaceArgs(const QVariant &vendor = 0x8086)
{
    QVariantMap args{{QStringLiteral("modelName"), QStringLiteral("UHD Graphics 630")},
                     {QStringLiteral("busId"), QStringLiteral("PCI:0@0000:02:0")},
                     {QStringLiteral("driver"), QStringLiteral("modesetting")},
                     {QStringLiteral("classId"), 0x300}};
    if (vendor.isValid()) {
        args.insert(QStringLiteral("videoCardVendorId"), vendor);
    }
    return args;
}

QVariantMap with(QVariantMap args, const QString &key, const QVariant &value)
{
    if (value.isValid()) {
        args.insert(key, value);
    } else {
        args.remove(key);
    }
    return args;
}

QByteArray deviceSection(const QByteArray &model, const QByteArray &driver, const QByteArray &busId)
{
    return "Section \"Device\"\n    Identifier \"" + model + "\"\n    Driver \"" + driver + "\"\n    BusID \"" + busId
        + "\"\n    Option \"AllowEmptyInitialConfiguration\"\nEndSection\n\n";
}

// A tmpfs of a few pages on the folder, with `existing` at `path` and the rest filled up.
bool mountFullTmpfs(const QString &dir, const QString &path, const QByteArray &existing)
{
    if (::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, "size=16k,mode=0755") != 0) {
        return false;
    }
    if (!write(path, existing)) {
        return false;
    }
    QFile filler(dir + QStringLiteral("/filler"));
    filler.open(QIODevice::WriteOnly);
    const QByteArray block(512, 'x');
    while (filler.write(block) == block.size() && filler.flush()) { }
    return true;
}

struct Unmount {
    QString dir;
    ~Unmount()
    {
        ::umount2(QFile::encodeName(dir).constData(), MNT_DETACH);
    }
};

// Collects what the helper hands to the message logger while it lives.
struct LogCapture {
    static QStringList &lines()
    {
        static QStringList collected;
        return collected;
    }
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        const char *kind = type == QtCriticalMsg ? "critical: " : type == QtWarningMsg ? "warning: " : "other: ";
        lines() << QString::fromLatin1(kind) + message;
    }
    QtMessageHandler previous;
    LogCapture()
    {
        lines().clear();
        previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(previous);
    }
};
}

class HelperActionsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (!insideFixtureNamespace()) {
            QFAIL("refusing to run outside the fixture namespace: start it through autotests/harness/kauth-fixture-ns.sh");
        }
    }

    void init()
    {
        for (const QString &dir :
             {QStringLiteral("/etc/X11/xorg.conf.d"), QStringLiteral("/etc/default"), QStringLiteral("/etc/modprobe.d"), QStringLiteral("/tmp")}) {
            clear(dir);
        }
        for (const QString &dir : driverDirs) {
            clear(dir);
        }
        QDir(backupDir).removeRecursively();
        QFile::remove(backupDir);
        QFile::remove(mark);
        QFile::remove(updateGrub);
        // The drivers this machine "has"; amdgpu lies one folder deeper.
        write(driverDirs.at(1) + QStringLiteral("modesetting_drv.so"), "elf");
        write(driverDirs.at(1) + QStringLiteral("fbdev_drv.so"), "elf");
        write(driverDirs.at(0) + QStringLiteral("extra/amdgpu_drv.so"), "elf");
        write(driverDirs.at(0) + QStringLiteral("intel_drv.so"), "elf");
        write(driverDirs.at(2) + QStringLiteral("nvidia_drv.so"), "elf");
        write(driverDirs.at(2) + QStringLiteral("nouveau_drv.txt"), "not a driver");
    }

    void replaceLayout_data()
    {
        QTest::addColumn<QVariantMap>("args");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray intelDevice = deviceSection("UHD Graphics 630", "modesetting", "PCI:0@0000:02:0");
        QTest::newRow("intel vendor") << replaceArgs(0x8086) << intelDevice;
        QTest::newRow("vendor 0") << replaceArgs(0) << intelDevice;
        QTest::newRow("vendor -1") << replaceArgs(-1) << intelDevice;
        QTest::newRow("vendor missing") << replaceArgs(QVariant()) << intelDevice;
        QTest::newRow("vendor as text") << replaceArgs(QStringLiteral("4318")) << "Section \"Module\"\n   Load \"modesetting\"\nEndSection\n\n" + intelDevice;
        QVariantMap nvidia = replaceArgs(4318);
        nvidia.insert(QStringLiteral("driver"), QStringLiteral("nvidia"));
        nvidia.insert(QStringLiteral("modelName"), QStringLiteral("GeForce GTX 1050 Ti"));
        nvidia.insert(QStringLiteral("busId"), QStringLiteral("PCI:0b@0000:00:0"));
        QTest::newRow("nvidia with nvidia") << nvidia
                                            << "Section \"Module\"\n   Load \"modesetting\"\nEndSection\n\n"
                + deviceSection("GeForce GTX 1050 Ti", "nvidia", "PCI:11@0000:00:0");
        QTest::newRow("nvidia with fbdev") << with(nvidia, QStringLiteral("driver"), QStringLiteral("fbdev"))
                                           << "Section \"Module\"\n   Load \"fbdev\"\nEndSection\n\n"
                + deviceSection("GeForce GTX 1050 Ti", "fbdev", "PCI:11@0000:00:0");
        QTest::newRow("driver one folder deeper") << with(replaceArgs(0x1002), QStringLiteral("driver"), QStringLiteral("amdgpu"))
                                                  << deviceSection("UHD Graphics 630", "amdgpu", "PCI:0@0000:02:0");
        QTest::newRow("latin-1 kept, beyond it ?") << with(replaceArgs(), QStringLiteral("modelName"), QStringLiteral("Gr\u00e4fik Radeon\u2122 \u7ea2"))
                                                   << deviceSection(
                                                          "Gr\xe4"
                                                          "fik Radeon? ?",
                                                          "modesetting",
                                                          "PCI:0@0000:02:0");
        QTest::newRow("slot and function converted") << with(replaceArgs(), QStringLiteral("busId"), QStringLiteral("PCI:1a@0000:1f:7"))
                                                     << deviceSection("UHD Graphics 630", "modesetting", "PCI:26@0000:31:7");
        const QString huge(1 << 20, QLatin1Char('a'));
        QTest::newRow("huge model name") << with(replaceArgs(), QStringLiteral("modelName"), huge)
                                         << deviceSection(huge.toLatin1(), "modesetting", "PCI:0@0000:02:0");
    }
    void replaceLayout()
    {
        QFETCH(QVariantMap, args);
        QFETCH(QByteArray, expected);
        write(oldSnippet, "Section \"Device\"\nEndSection\n");
        DriverSwitchHelper helper;
        QCOMPARE(replyText(helper.replace(args)), QString());
        QCOMPARE(read(snippet), expected);
        QVERIFY(!QFileInfo::exists(oldSnippet));
        QCOMPARE(QFileInfo(snippet).permissions() & 0x7777,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ReadGroup
                     | QFileDevice::ReadOther);
        // A second switch in the same helper process describes only the new choice.
        QCOMPARE(replyText(helper.replace(args)), QString());
        QCOMPARE(read(snippet), expected);
    }

    void replaceRefused_data()
    {
        QTest::addColumn<QVariantMap>("args");
        QTest::addColumn<QString>("reply");
        const QString bad = QStringLiteral("Error getting arguments.");
        const QVariantMap ok = replaceArgs();
        QTest::newRow("empty map") << QVariantMap() << QStringLiteral("Empty arguments!");
        QTest::newRow("only classId") << QVariantMap{{QStringLiteral("classId"), 3}} << bad;
        QTest::newRow("model missing") << with(ok, QStringLiteral("modelName"), QVariant()) << bad;
        QTest::newRow("busId empty") << with(ok, QStringLiteral("busId"), QString()) << bad;
        QTest::newRow("driver missing") << with(ok, QStringLiteral("driver"), QVariant()) << bad;
        QTest::newRow("model is a list") << with(ok, QStringLiteral("modelName"), QStringList{QStringLiteral("a")}) << bad;
        QTest::newRow("driver is bytes") << with(ok, QStringLiteral("driver"), QByteArray("modesetting")) << bad;
        QTest::newRow("busId is a number") << with(ok, QStringLiteral("busId"), 2) << bad;
        QTest::newRow("vendor is a list") << with(ok, QStringLiteral("videoCardVendorId"), QVariantList{4318}) << bad;
        QTest::newRow("vendor is a word") << with(ok, QStringLiteral("videoCardVendorId"), QStringLiteral("nvidia")) << bad;
        QTest::newRow("model with line feed") << with(ok, QStringLiteral("modelName"), QStringLiteral("x\"\nEndSection\nSection \"Files\"")) << bad;
        QTest::newRow("model with quote") << with(ok, QStringLiteral("modelName"), QStringLiteral("a\"b")) << bad;
        QTest::newRow("model with backslash") << with(ok, QStringLiteral("modelName"), QStringLiteral("a\\")) << bad;
        QTest::newRow("model with NUL") << with(ok, QStringLiteral("modelName"), QString(QStringLiteral("a") + QChar(0))) << bad;
        QTest::newRow("model with tab") << with(ok, QStringLiteral("modelName"), QStringLiteral("a\tb")) << bad;
        QTest::newRow("driver with NUL") << with(ok, QStringLiteral("driver"), QString(QStringLiteral("modesetting") + QChar(0) + QStringLiteral("x"))) << bad;
        QTest::newRow("driver with carriage return") << with(ok, QStringLiteral("driver"), QStringLiteral("modesetting\r")) << bad;
        QTest::newRow("driver with quote") << with(ok, QStringLiteral("driver"), QStringLiteral("modesetting\"")) << bad;
        QTest::newRow("busId with line feed") << with(ok, QStringLiteral("busId"), QStringLiteral("PCI:0@0000:02:0\n")) << bad;
        QTest::newRow("busId sysfs form") << with(ok, QStringLiteral("busId"), QStringLiteral("0000:00:02.0")) << bad;
        QTest::newRow("busId huge") << with(ok,
                                            QStringLiteral("busId"),
                                            QString(QStringLiteral("PCI:") + QString(100000, QLatin1Char('1')) + QStringLiteral("@0:0:0")))
                                    << bad;
        const QString unknown = QStringLiteral("The XOrg driver \"%1\" is not installed: no %1_drv.so in the XOrg driver folders.");
        QTest::newRow("unknown driver") << with(ok, QStringLiteral("driver"), QStringLiteral("vesa")) << unknown.arg(QStringLiteral("vesa"));
        QTest::newRow("file that is no driver") << with(ok, QStringLiteral("driver"), QStringLiteral("nouveau")) << unknown.arg(QStringLiteral("nouveau"));
        QTest::newRow("wildcard driver") << with(ok, QStringLiteral("driver"), QStringLiteral("*")) << unknown.arg(QStringLiteral("*"));
        QTest::newRow("path driver") << with(ok, QStringLiteral("driver"), QStringLiteral("extra/amdgpu")) << unknown.arg(QStringLiteral("extra/amdgpu"));
    }
    void replaceRefused()
    {
        QFETCH(QVariantMap, args);
        QFETCH(QString, reply);
        const QByteArray previous = "Section \"Device\"\n    Driver \"intel\"\nEndSection\n\n";
        write(snippet, previous);
        write(oldSnippet, "old");
        DriverSwitchHelper helper;
        QCOMPARE(replyText(helper.replace(args)), reply);
        QCOMPARE(read(snippet), previous);
        QCOMPARE(read(oldSnippet), QByteArray("old"));
        QVERIFY2(!QFileInfo::exists(mark) && !QFileInfo::exists(backupDir), "a refused request must not take a backup");
    }

    // The first change of a boot keeps a dated copy of the configuration; later changes of the
    // same boot take none; the next boot adds a generation and keeps the earlier ones.
    void backupGenerations()
    {
        write(QStringLiteral("/etc/modprobe.d/blacklist-nouveau.conf"), "blacklist nouveau\n");
        write(QStringLiteral("/etc/X11/xorg.conf.d/10-keyboard.conf"), "Section \"InputClass\"\nEndSection\n");
        write(QStringLiteral("/etc/X11/xorg.conf.d/20-intel-tearing.conf"), "tearing\n");
        write(grub, grubText);
        QVERIFY(QFile::link(QStringLiteral("/etc/modprobe.d/blacklist-nouveau.conf"), QStringLiteral("/etc/modprobe.d/alias.conf")));
        // What the restore command set aside, and a previous backup kept after a failed carry-over,
        // are never deleted.
        write(backupDir + QStringLiteral("/set-aside-20260101-120000/xorg.conf.d/30-extra.conf"), "kept");
        write(backupDir + QStringLiteral(".old/modprobe.d/old.conf"), "kept too");

        DriverSwitchHelper helper;
        QCOMPARE(replyText(helper.replace(replaceArgs())), QString());
        QVERIFY(QFileInfo(mark).isFile());
        const QStringList first = generations();
        QCOMPARE(first.size(), 1);
        const QString gen = backupDir + QLatin1Char('/') + first.constFirst();
        QCOMPARE(read(gen + QStringLiteral("/modprobe.d/blacklist-nouveau.conf")), QByteArray("blacklist nouveau\n"));
        QCOMPARE(QFileInfo(gen + QStringLiteral("/modprobe.d/alias.conf")).symLinkTarget(), QStringLiteral("/etc/modprobe.d/blacklist-nouveau.conf"));
        QCOMPARE(read(gen + QStringLiteral("/xorg.conf.d/20-intel-tearing.conf")), QByteArray("tearing\n"));
        QCOMPARE(read(gen + QStringLiteral("/grub")), grubText);
        QVERIFY(!QFileInfo::exists(gen + QStringLiteral("/xorg.conf.d/20-vela-admin-video-driver.conf"))); // taken before the switch
        // The newest is also where a reader of the single-copy layout looks.
        QCOMPARE(read(backupDir + QStringLiteral("/modprobe.d/blacklist-nouveau.conf")), QByteArray("blacklist nouveau\n"));
        QCOMPARE(read(backupDir + QStringLiteral("/set-aside-20260101-120000/xorg.conf.d/30-extra.conf")), QByteArray("kept"));
        QCOMPARE(read(backupDir + QStringLiteral(".old/modprobe.d/old.conf")), QByteArray("kept too"));

        // With the mark present the next change takes no copy.
        write(QStringLiteral("/etc/modprobe.d/later.conf"), "later");
        QCOMPARE(replyText(helper.replace(replaceArgs())), QString());
        QCOMPARE(generations(), first);

        // The next boot (no mark) adds a generation; the first stays as it was.
        QVERIFY(QFile::remove(mark));
        QCOMPARE(replyText(helper.replace(replaceArgs())), QString());
        const QStringList second = generations();
        QCOMPARE(second.size(), 2);
        QCOMPARE(second.constFirst(), first.constFirst());
        QVERIFY(!QFileInfo::exists(gen + QStringLiteral("/modprobe.d/later.conf")));
        QCOMPARE(read(backupDir + QLatin1Char('/') + second.constLast() + QStringLiteral("/modprobe.d/later.conf")), QByteArray("later"));
        QCOMPARE(read(backupDir + QStringLiteral("/modprobe.d/later.conf")), QByteArray("later"));
        QCOMPARE(read(backupDir + QStringLiteral("/set-aside-20260101-120000/xorg.conf.d/30-extra.conf")), QByteArray("kept"));
        QCOMPARE(read(backupDir + QStringLiteral(".old/modprobe.d/old.conf")), QByteArray("kept too"));
    }

    // A switch breaks X; the first change of the next boot backs up the broken state. The backup
    // of the first boot is still there and is what the restore command brings back on request.
    void bootTwoKeepsBootOneRestorable()
    {
        write(QStringLiteral("/etc/X11/xorg.conf.d/10-keyboard.conf"), "keyboard\n");
        write(grub, grubText);
        write(updateGrub, "#!/bin/sh\ncp /etc/default/grub /tmp/update-grub.ran\n", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        DriverSwitchHelper helper;
        QCOMPARE(replyText(helper.replace(replaceArgs())), QString()); // boot 1: the switch that breaks X
        const QByteArray changedGrub = QByteArray(grubText).replace("quiet", "quiet i915.enable_guc=3");
        QCOMPARE(replyText(helper.acceleration({{QStringLiteral("grub_content"), changedGrub}})), QString());
        QVERIFY(QFile::remove(updateGrubRan));
        QVERIFY(QFile::remove(mark)); // reboot
        QCOMPARE(replyText(helper.replace(with(replaceArgs(), QStringLiteral("driver"), QStringLiteral("fbdev")))), QString());
        const QStringList all = generations();
        QCOMPARE(all.size(), 2);

        const RestoreRun list = runRestore({QStringLiteral("--list")});
        QCOMPARE(list.exitCode, 0);
        QCOMPARE(list.out, QStringLiteral("%1\n%2  (newest, restored by default)\n").arg(all.at(0), all.at(1)));
        const RestoreRun restore = runRestore({QStringLiteral("--from"), all.at(0)});
        QVERIFY2(restore.exitCode == 0, qPrintable(restore.out + restore.err));
        QVERIFY(!QFileInfo::exists(snippet));
        QCOMPARE(read(QStringLiteral("/etc/X11/xorg.conf.d/10-keyboard.conf")), QByteArray("keyboard\n"));
        // The boot loader defaults come back too, and the boot menu is rebuilt from them.
        QCOMPARE(read(grub), grubText);
        QCOMPARE(read(updateGrubRan), grubText);
        QCOMPARE(runRestore({QStringLiteral("--from"), QStringLiteral("20000101-000000")}).exitCode, 3);
    }

    // The helper dies between publishing a new generation and pointing "latest" at it: both
    // backups are whole, the restore command offers both, and the next change goes on.
    void crashDuringBackupSwap()
    {
        write(QStringLiteral("/etc/modprobe.d/a.conf"), "first\n");
        DriverSwitchHelper helper;
        QCOMPARE(replyText(helper.replace(replaceArgs())), QString());
        const QString first = generations().value(0);
        QVERIFY(QFile::remove(mark));
        write(QStringLiteral("/etc/modprobe.d/a.conf"), "second\n");

        QProcess crashing;
        crashing.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--crash-in-backup-swap")});
        QVERIFY(crashing.waitForFinished(30000));
        QCOMPARE(crashing.exitCode(), 42);

        const QStringList all = generations();
        QCOMPARE(all.size(), 2);
        QCOMPARE(all.at(0), first);
        QCOMPARE(QFileInfo(backupDir + QStringLiteral("/latest")).symLinkTarget(), backupDir + QLatin1Char('/') + first);
        QCOMPARE(read(backupDir + QLatin1Char('/') + all.at(0) + QStringLiteral("/modprobe.d/a.conf")), QByteArray("first\n"));
        QCOMPARE(read(backupDir + QLatin1Char('/') + all.at(1) + QStringLiteral("/modprobe.d/a.conf")), QByteArray("second\n"));
        QVERIFY(!QFileInfo::exists(mark));
        QCOMPARE(runRestore({QStringLiteral("--list")}).out.count(QLatin1Char('\n')), 2);
        const RestoreRun dry = runRestore({QStringLiteral("--dry-run")});
        QVERIFY2(dry.exitCode == 0 && dry.out.startsWith(QStringLiteral("Restoring the backup ") + all.at(1)), qPrintable(dry.out + dry.err));

        QCOMPARE(replyText(helper.replace(replaceArgs())), QString());
        QCOMPARE(generations().size(), 3);
        QCOMPARE(QFileInfo(backupDir + QStringLiteral("/latest")).symLinkTarget(), backupDir + QLatin1Char('/') + generations().constLast());
    }

    // Ten generations at most: the oldest goes.
    void backupPruning()
    {
        for (int day = 10; day < 20; ++day) {
            write(backupDir + QStringLiteral("/202601%1-120000/modprobe.d/x.conf").arg(day), "old");
        }
        DriverSwitchHelper helper;
        QCOMPARE(replyText(helper.replace(replaceArgs())), QString());
        const QStringList kept = generations();
        QCOMPARE(kept.size(), 10);
        QCOMPARE(kept.constFirst(), QStringLiteral("20260111-120000"));
        QVERIFY(!kept.contains(QStringLiteral("20260110-120000")));
    }

    // A backup of the single-copy layout becomes a generation of its own.
    void olderLayoutKept()
    {
        write(backupDir + QStringLiteral("/modprobe.d/old.conf"), "from the older layout");
        write(backupDir + QStringLiteral("/xorg.conf.d/10-old.conf"), "older snippet");
        write(QStringLiteral("/etc/modprobe.d/new.conf"), "now");
        DriverSwitchHelper helper;
        QCOMPARE(replyText(helper.replace(replaceArgs())), QString());
        const QStringList all = generations();
        QCOMPARE(all.size(), 2);
        QCOMPARE(read(backupDir + QLatin1Char('/') + all.constFirst() + QStringLiteral("/modprobe.d/old.conf")), QByteArray("from the older layout"));
        QCOMPARE(read(backupDir + QLatin1Char('/') + all.constFirst() + QStringLiteral("/xorg.conf.d/10-old.conf")), QByteArray("older snippet"));
        QCOMPARE(read(backupDir + QStringLiteral("/modprobe.d/new.conf")), QByteArray("now"));
    }

    // Every action that changes a file takes the boot's backup first, and changes nothing when
    // that backup cannot be taken.
    void backupBeforeEveryChange_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("blocked");
        QTest::addColumn<QString>("path");
        for (const bool blocked : {false, true}) {
            const char *suffix = blocked ? ", backup blocked" : "";
            QTest::addRow("replace%s", suffix) << QStringLiteral("replace") << blocked << snippet;
            QTest::addRow("tearing%s", suffix) << QStringLiteral("tearing") << blocked << QStringLiteral("/etc/X11/xorg.conf.d/20-intel-tearing.conf");
            QTest::addRow("acceleration%s", suffix) << QStringLiteral("acceleration") << blocked << grub;
        }
    }
    void backupBeforeEveryChange()
    {
        QFETCH(QString, action);
        QFETCH(bool, blocked);
        QFETCH(QString, path);
        const QByteArray before = action == QLatin1String("acceleration") ? grubText : QByteArray("before\n");
        write(grub, grubText);
        write(path, before);
        write(updateGrub, "#!/bin/sh\nexit 0\n", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        if (blocked) {
            write(backupDir, "a file where the backup folder belongs");
        }
        DriverSwitchHelper helper;
        KAuth::ActionReply reply;
        if (action == QLatin1String("replace")) {
            reply = helper.replace(replaceArgs());
        } else if (action == QLatin1String("tearing")) {
            reply = helper.tearing({{QStringLiteral("vendor"), QStringLiteral("intel")},
                                    {QStringLiteral("driverName"), QStringLiteral("intel")},
                                    {QStringLiteral("shouldEnable"), true}});
        } else {
            reply = helper.acceleration({{QStringLiteral("grub_content"), QByteArray(grubText).replace("quiet", "quiet i915.enable_guc=3")}});
        }
        if (blocked) {
            QVERIFY(replyText(reply).endsWith(QLatin1String("Failed to create backup directory; nothing was changed")));
            QCOMPARE(read(path), before);
            QVERIFY(!QFileInfo::exists(mark));
        } else {
            QCOMPARE(replyText(reply), QString());
            QVERIFY(read(path) != before);
            QCOMPARE(generations().size(), 1);
            const QString kept =
                action == QLatin1String("acceleration") ? QStringLiteral("/latest/grub") : QStringLiteral("/latest/xorg.conf.d/") + QFileInfo(path).fileName();
            QCOMPARE(read(backupDir + kept), before);
            QVERIFY(QFileInfo(mark).isFile());
        }
    }

    void tearing_data()
    {
        QTest::addColumn<QVariantMap>("args");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        const auto tearing = [](const QVariant &vendor, const QVariant &driver, const QVariant &enable) {
            QVariantMap args;
            if (vendor.isValid())
                args.insert(QStringLiteral("vendor"), vendor);
            if (driver.isValid())
                args.insert(QStringLiteral("driverName"), driver);
            if (enable.isValid())
                args.insert(QStringLiteral("shouldEnable"), enable);
            return args;
        };
        const QString intelFile = QStringLiteral("/etc/X11/xorg.conf.d/20-intel-tearing.conf");
        const QString amdFile = QStringLiteral("/etc/X11/xorg.conf.d/20-amd-tearing.conf");
        const auto layout = [](const QByteArray &driver, const QByteArray &value) -> QByteArray {
            return "Section \"Device\"\n    Identifier \"Intel Graphics\"\n    Driver \"" + driver + "\"\n    Option \"TearFree\" \"" + value
                + "\"\nEndSection\n";
        };
        const QString vendorError = QStringLiteral("Did not receive proper GPU vendor");
        const QString charError = QStringLiteral("The driver name or the TearFree value holds characters an XOrg configuration cannot take");
        QTest::newRow("intel on") << tearing(QStringLiteral("intel"), QStringLiteral("intel"), true) << QString() << intelFile << layout("intel", "true");
        QTest::newRow("intel off") << tearing(QStringLiteral("intel"), QStringLiteral("modesetting"), false) << QString() << intelFile
                                   << layout("modesetting", "false");
        QTest::newRow("amd text value") << tearing(QStringLiteral("amd"), QStringLiteral("amdgpu"), QStringLiteral("true")) << QString() << amdFile
                                        << layout("amdgpu", "true");
        QTest::newRow("value missing") << tearing(QStringLiteral("amd"), QStringLiteral("amdgpu"), QVariant()) << QString() << amdFile << layout("amdgpu", "");
        QTest::newRow("empty map") << QVariantMap() << vendorError << QString() << QByteArray();
        QTest::newRow("capital Intel") << tearing(QStringLiteral("Intel"), QStringLiteral("intel"), true) << vendorError << QString() << QByteArray();
        QTest::newRow("vendor path") << tearing(QStringLiteral("../intel"), QStringLiteral("intel"), true) << vendorError << QString() << QByteArray();
        QTest::newRow("vendor list") << tearing(QStringList{QStringLiteral("intel")}, QStringLiteral("intel"), true) << vendorError << QString()
                                     << QByteArray();
        QTest::newRow("driver missing") << tearing(QStringLiteral("intel"), QVariant(), true)
                                        << QStringLiteral("No XOrg driver name was given for the tearing configuration") << QString() << QByteArray();
        QTest::newRow("driver unknown") << tearing(QStringLiteral("intel"), QStringLiteral("vesa"), true)
                                        << QStringLiteral("The XOrg driver \"vesa\" is not installed: no vesa_drv.so in the XOrg driver folders.") << QString()
                                        << QByteArray();
        QTest::newRow("driver with line feed") << tearing(QStringLiteral("intel"), QStringLiteral("intel\"\nOption \"x"), true) << charError << QString()
                                               << QByteArray();
        QTest::newRow("driver with NUL") << tearing(QStringLiteral("intel"), QString(QStringLiteral("intel") + QChar(0)), true) << charError << QString()
                                         << QByteArray();
        QTest::newRow("value with quote") << tearing(QStringLiteral("intel"), QStringLiteral("intel"), QStringLiteral("true\" \"x")) << charError << QString()
                                          << QByteArray();
        QTest::newRow("value with backslash") << tearing(QStringLiteral("intel"), QStringLiteral("intel"), QStringLiteral("\\")) << charError << QString()
                                              << QByteArray();
        QTest::newRow("value is a list") << tearing(QStringLiteral("intel"), QStringLiteral("intel"), QVariantList{true}) << charError << QString()
                                         << QByteArray();
        QTest::newRow("driver is a map") << tearing(QStringLiteral("intel"), QVariantMap{{QStringLiteral("a"), 1}}, true) << charError << QString()
                                         << QByteArray();
    }
    void tearing()
    {
        QFETCH(QVariantMap, args);
        QFETCH(QString, reply);
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        write(QStringLiteral("/etc/X11/xorg.conf.d/20-intel-tearing.conf"), "previous intel");
        write(QStringLiteral("/etc/X11/xorg.conf.d/20-amd-tearing.conf"), "previous amd");
        DriverSwitchHelper helper;
        QCOMPARE(replyText(helper.tearing(args)), reply);
        if (!file.isEmpty()) {
            QCOMPARE(read(file), content);
        } else {
            QCOMPARE(read(QStringLiteral("/etc/X11/xorg.conf.d/20-intel-tearing.conf")), QByteArray("previous intel"));
            QCOMPARE(read(QStringLiteral("/etc/X11/xorg.conf.d/20-amd-tearing.conf")), QByteArray("previous amd"));
        }
    }

    void acceleration_data()
    {
        QTest::addColumn<QByteArray>("current");
        QTest::addColumn<QVariantMap>("args");
        QTest::addColumn<QByteArray>("stub"); // update-grub; empty: none installed
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QByteArray>("fileAfter");
        const QByteArray recording = "#!/bin/sh\necho \"$PATH\" > /tmp/update-grub.ran\nexit 0\n";
        const QByteArray newText = QByteArray(grubText).replace("\"quiet\"", "\"quiet i915.enable_guc=3 i915.enable_fbc=1\"");
        const auto content = [](const QVariant &v) {
            return QVariantMap{{QStringLiteral("grub_content"), v}};
        };
        const QString putBack = QStringLiteral("; the previous boot loader defaults were put back");
        const QString outside = QStringLiteral("acceleration change: refusing a change outside the GRUB_CMDLINE_LINUX_DEFAULT value");
        const QString notParameters =
            QStringLiteral("acceleration change: refusing a GRUB_CMDLINE_LINUX_DEFAULT value that is not a list of kernel parameters");
        QTest::newRow("written, update-grub ran") << grubText << content(newText) << recording << QString() << newText;
        QTest::newRow("sent as text") << grubText << content(QString::fromUtf8(newText)) << recording << QString() << newText;
        QTest::newRow("no final line feed") << grubText.chopped(1) << content(newText.chopped(1)) << recording << QString() << newText.chopped(1);
        QTest::newRow("value emptied") << grubText << content(QByteArray(grubText).replace("\"quiet\"", "\"\"")) << recording << QString()
                                       << QByteArray(grubText).replace("\"quiet\"", "\"\"");
        // Bytes that are no UTF-8 stay exactly as they are.
        const QByteArray latin1 =
            "# Gr\xf6\xdf"
            "e\nGRUB_DISTRIBUTOR=\"Debian \xe9t\xe9\"\n"
            + grubText;
        QTest::newRow("latin-1 file") << latin1 << content(QByteArray(latin1).replace("\"quiet\"", "\"quiet i915.enable_guc=3\"")) << recording << QString()
                                      << QByteArray(latin1).replace("\"quiet\"", "\"quiet i915.enable_guc=3\"");
        QTest::newRow("latin-1 file sent as text") << latin1
                                                   << content(QString::fromLatin1(latin1).replace(QStringLiteral("quiet"),
                                                                                                  QStringLiteral("quiet i915.enable_guc=3")))
                                                   << recording << outside << latin1;
        // A legal value over two lines: a line inserted inside it would end its quotes and
        // hand the rest of the line to the shell that sources the file.
        const QByteArray multiLine = "GRUB_DEFAULT=0\nGRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\nGRUB_CMDLINE_LINUX=\"console=tty0\nconsole=ttyS0\"\n";
        QTest::newRow("multi-line value, honest change") << multiLine << content(QByteArray(multiLine).replace("\"quiet\"", "\"quiet i915.enable_fbc=1\""))
                                                         << recording << QString() << QByteArray(multiLine).replace("\"quiet\"", "\"quiet i915.enable_fbc=1\"");
        QTest::newRow("multi-line value, line inserted")
            << multiLine << content(QByteArray(multiLine).replace("tty0\n", "tty0\nGRUB_CMDLINE_LINUX_DEFAULT=\"; id > /tmp/pwned ;\"\n"))
            << QByteArray("#!/bin/sh\n. /etc/default/grub\nexit 0\n") << outside << multiLine;
        QTest::newRow("update-grub fails") << grubText << content(newText) << QByteArray("#!/bin/sh\nexit 3\n")
                                           << QStringLiteral("acceleration change: update-grub failed with exit code 3") + putBack << grubText;
        QTest::newRow("update-grub missing") << grubText << content(newText) << QByteArray()
                                             << QStringLiteral("acceleration change: update-grub could not be started") + putBack << grubText;
        QTest::newRow("update-grub hangs") << grubText << content(newText) << QByteArray("#!/bin/sh\nexec /bin/sleep 60\n")
                                           << QStringLiteral("acceleration change: update-grub did not finish within 1 seconds") + putBack << grubText;
        QTest::newRow("empty map") << grubText << QVariantMap() << recording << QStringLiteral("acceleration change: Empty arguments!") << grubText;
        QTest::newRow("content missing") << grubText << QVariantMap{{QStringLiteral("x"), 1}} << recording
                                         << QStringLiteral("acceleration change: grub content empty") << grubText;
        QTest::newRow("content empty") << grubText << content(QByteArray()) << recording << QStringLiteral("acceleration change: grub content empty")
                                       << grubText;
        QTest::newRow("content is a list") << grubText << content(QStringList{QString::fromUtf8(newText)}) << recording
                                           << QStringLiteral("acceleration change: grub content empty") << grubText;
        QTest::newRow("other line changed") << grubText << content(QByteArray(grubText).replace("TIMEOUT=5", "TIMEOUT=0")) << recording << outside << grubText;
        QTest::newRow("line appended") << grubText << content(QByteArray(grubText + "GRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\n")) << recording << outside
                                       << grubText;
        QTest::newRow("command in value") << grubText << content(QByteArray(grubText).replace("\"quiet\"", "\"$(touch /tmp/owned)\"")) << recording
                                          << notParameters << grubText;
        QTest::newRow("quote in value") << grubText << content(QByteArray(grubText).replace("\"quiet\"", "\"quiet\" x=\"y\"")) << recording << notParameters
                                        << grubText;
        QTest::newRow("double space in value") << grubText << content(QByteArray(grubText).replace("\"quiet\"", "\"quiet  splash\"")) << recording
                                               << notParameters << grubText;
        const QByteArray longest(4096, 'a');
        QTest::newRow("value of 4 KiB") << grubText << content(QByteArray(grubText).replace("quiet", longest)) << recording << QString()
                                        << QByteArray(grubText).replace("quiet", longest);
        QTest::newRow("value over 4 KiB") << grubText << content(QByteArray(grubText).replace("quiet", longest + 'a')) << recording << notParameters
                                          << grubText;
        QTest::newRow("NUL in content") << grubText << content(QByteArray(grubText + QByteArray("\0x", 2))) << recording << outside << grubText;
        const QByteArray twoLines = grubText + "GRUB_CMDLINE_LINUX_DEFAULT=\"splash\"\n";
        QTest::newRow("two active lines")
            << twoLines << content(QByteArray(twoLines).replace("\"quiet\"", "\"quiet i915.enable_fbc=1\"")) << recording
            << QStringLiteral("acceleration change: refusing to change the file: the file has more than one active GRUB_CMDLINE_LINUX_DEFAULT line")
            << twoLines;
    }
    void acceleration()
    {
        QFETCH(QByteArray, current);
        QFETCH(QVariantMap, args);
        QFETCH(QByteArray, stub);
        QFETCH(QString, reply);
        QFETCH(QByteArray, fileAfter);
        write(grub, current);
        if (!stub.isEmpty()) {
            write(updateGrub, stub, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther);
        }
        DriverSwitchHelper helper;
        helper.setUpdateGrubTimeoutMs(1000);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(replyText(helper.acceleration(args)), reply);
        QVERIFY2(clock.elapsed() < 10000, "a hanging update-grub must be cut off at its limit");
        QCOMPARE(read(grub), fileAfter);
        QCOMPARE(QFileInfo(grub).permissions() & 0x7777,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ReadGroup
                     | QFileDevice::ReadOther);
        QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/pwned")));
        const bool mustHaveRun = reply.isEmpty();
        QCOMPARE(QFileInfo::exists(updateGrubRan), mustHaveRun);
        if (mustHaveRun) {
            QCOMPARE(read(updateGrubRan), QByteArray("/usr/sbin:/usr/bin:/sbin:/bin\n"));
        }
    }

    void accelerationWithoutGrubFile()
    {
        DriverSwitchHelper helper;
        const KAuth::ActionReply reply = helper.acceleration({{QStringLiteral("grub_content"), QString::fromUtf8(grubText)}});
        QVERIFY(replyText(reply).startsWith(QLatin1String("acceleration change: ")));
        QVERIFY(!QFileInfo::exists(grub));
    }

    void accelerationTwice()
    {
        write(grub, grubText);
        write(updateGrub, "#!/bin/sh\nexit 0\n", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        DriverSwitchHelper helper;
        const QString first = QString::fromUtf8(grubText).replace(QStringLiteral("quiet"), QStringLiteral("quiet i915.enable_guc=1"));
        const QString second = QString::fromUtf8(grubText).replace(QStringLiteral("quiet"), QStringLiteral("quiet i915.enable_guc=2"));
        QCOMPARE(replyText(helper.acceleration({{QStringLiteral("grub_content"), first}})), QString());
        QCOMPARE(replyText(helper.acceleration({{QStringLiteral("grub_content"), second}})), QString());
        QCOMPARE(read(grub), second.toUtf8());
    }

    // A disk that fills up mid-write leaves the previous file exactly as it was.
    void fullDisk_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reply");
        QTest::newRow("replace") << QStringLiteral("replace") << QStringLiteral("/etc/X11/xorg.conf.d") << snippet
                                 << QStringLiteral("XOrg configuration update error");
        QTest::newRow("tearing") << QStringLiteral("tearing") << QStringLiteral("/etc/X11/xorg.conf.d")
                                 << QStringLiteral("/etc/X11/xorg.conf.d/20-intel-tearing.conf") << QStringLiteral("Cannot write to XOrg config file");
        QTest::newRow("acceleration") << QStringLiteral("acceleration") << QStringLiteral("/etc/default") << grub << QStringLiteral("acceleration change: ");
    }
    void fullDisk()
    {
        QFETCH(QString, action);
        QFETCH(QString, dir);
        QFETCH(QString, path);
        QFETCH(QString, reply);
        const QByteArray previous = action == QLatin1String("acceleration") ? grubText : QByteArray("Section \"Device\"\n    Driver \"intel\"\nEndSection\n\n");
        write(mark, QByteArray()); // no backup in this test
        QVERIFY(mountFullTmpfs(dir, path, previous));
        Unmount unmount{dir};
        DriverSwitchHelper helper;
        KAuth::ActionReply result;
        const QString big(64 * 1024, QLatin1Char('x'));
        if (action == QLatin1String("replace")) {
            result = helper.replace(with(replaceArgs(), QStringLiteral("modelName"), big));
        } else if (action == QLatin1String("tearing")) {
            // The tearing file is small: fill what the filler left.
            result = helper.tearing({{QStringLiteral("vendor"), QStringLiteral("intel")},
                                     {QStringLiteral("driverName"), QStringLiteral("intel")},
                                     {QStringLiteral("shouldEnable"), big}});
        } else {
            // The longest value the helper takes; the filler left no page for it.
            result = helper.acceleration({{QStringLiteral("grub_content"), QByteArray(grubText).replace("quiet", QByteArray(4096, 'x'))}});
        }
        QVERIFY(!result.succeeded());
        QVERIFY2(result.errorDescription().startsWith(reply), qPrintable(result.errorDescription()));
        QCOMPARE(read(path), previous);
        const QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(left.size(), 2); // the old file and the filler, no temporary file left behind
    }

    // The lines an administrator reads in the journal when a switch goes only partly well.
    void replaceLogLines_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("absent");
        const QString vendorWarning = QStringLiteral("warning: Unknown video card vendor type.");
        QTest::newRow("unknown vendor") << QStringLiteral("vendor -1") << QString() << QStringList{vendorWarning} << QStringList();
        QTest::newRow("vendor missing: no warning") << QStringLiteral("vendor missing") << QString() << QStringList() << QStringList{vendorWarning};
        QTest::newRow("backup fails") << QStringLiteral("backup fails") << QStringLiteral("Failed to create backup directory; nothing was changed")
                                      << QStringList{QStringLiteral("warning: Failed to create backup directory")} << QStringList();
        QTest::newRow("old snippet stays") << QStringLiteral("old snippet stays") << QString()
                                           << QStringList{QStringLiteral("warning: Cannot remove: ") + oldSnippet} << QStringList();
        QTest::newRow("snippet unwritable") << QStringLiteral("snippet unwritable") << QStringLiteral("XOrg configuration update error")
                                            << QStringList{QStringLiteral("critical: Cannot create / edit ") + snippet + QStringLiteral(" file: ")}
                                            << QStringList();
    }
    void replaceLogLines()
    {
        QFETCH(QString, situation);
        QFETCH(QString, reply);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, absent);
        QVariantMap args = replaceArgs();
        if (situation == QLatin1String("vendor -1")) {
            args = replaceArgs(-1);
        } else if (situation == QLatin1String("vendor missing")) {
            args = replaceArgs(QVariant());
        } else if (situation == QLatin1String("backup fails")) {
            write(backupDir, "a file where the backup folder belongs");
        } else if (situation == QLatin1String("old snippet stays")) {
            write(oldSnippet + QStringLiteral("/inside"), "a folder cannot be removed as a file");
        } else if (situation == QLatin1String("snippet unwritable")) {
            write(snippet + QStringLiteral("/inside"), "a folder cannot be replaced by a file");
        }
        if (situation != QLatin1String("backup fails")) {
            write(mark, QByteArray()); // no backup in these cases
        }
        DriverSwitchHelper helper;
        QStringList lines;
        {
            LogCapture capture;
            QCOMPARE(replyText(helper.replace(args)), reply);
            lines = LogCapture::lines();
        }
        QFile::remove(backupDir);
        for (const QString &line : expected) {
            bool found = false;
            for (const QString &seen : lines) {
                found = found || seen.startsWith(line);
            }
            QVERIFY2(found, qPrintable(QStringLiteral("missing \"%1\" in:\n%2").arg(line, lines.join(QLatin1Char('\n')))));
        }
        for (const QString &line : absent) {
            QVERIFY2(!lines.contains(line), qPrintable(lines.join(QLatin1Char('\n'))));
        }
    }
};

int main(int argc, char **argv)
{
    HarnessMain::enterHarness(argc, argv, {QByteArrayLiteral(KAUTH_HARNESS_DIR "/kauth-fixture-ns.sh")});
    QCoreApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--crash-in-backup-swap") == 0) {
        DriverSwitchHelper helper;
        helper.setBackupHookForTests([] {
            ::_exit(42);
        });
        helper.replace(replaceArgs());
        return 1;
    }
    HelperActionsTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "helperactionstest.moc"
