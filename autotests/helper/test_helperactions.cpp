// The helper's replace, tearing and acceleration slots called in-process, writing to the real
// system paths inside the fixture namespace of kauth-fixture-ns.sh.
#include "driverswitchhelper.h"
#include "fixturefs.h"
#include "harnessmain.h"
#include "systempaths.h"

#include <QElapsedTimer>
#include <QTest>

#include <sys/mount.h>
#include <unistd.h>

using namespace FixtureFs;

namespace
{
const QString snippet = QStringLiteral("/etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf");
const QString oldSnippet = QStringLiteral("/etc/X11/xorg.conf.d/20-vela-admin-driver.conf");
const QString mark = QStringLiteral("/tmp/driver-root.mark");
const QString backupDir = QStringLiteral("/usr/share/vela-admin-video-driver");
const QString grub = QStringLiteral("/etc/default/grub");
const QString updateGrub = QStringLiteral("/usr/sbin/update-grub");
const QString updateGrubRan = QStringLiteral("/tmp/update-grub.ran");
// The multiarch driver folder, the plain one and NVIDIA's, as the build configured them.
const QStringList driverDirs = SystemPaths::xorgDriverDirs();

const QByteArray grubText = "GRUB_DEFAULT=0\nGRUB_TIMEOUT=5\nGRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\nGRUB_CMDLINE_LINUX=\"\"\n";

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
        for (const QString &dir : {QStringLiteral("/etc/X11/xorg.conf.d"), QStringLiteral("/etc/default"), QStringLiteral("/etc/modprobe.d"), QStringLiteral("/tmp")}) {
            clear(dir);
        }
        for (const QString &dir : driverDirs) {
            clear(dir);
        }
        QDir(backupDir).removeRecursively();
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
                                                   << deviceSection("Gr\xe4" "fik Radeon? ?", "modesetting", "PCI:0@0000:02:0");
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
        QCOMPARE(QFileInfo(snippet).permissions() & 0x7777, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser
                     | QFileDevice::ReadGroup | QFileDevice::ReadOther);
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
        QTest::newRow("busId huge") << with(ok, QStringLiteral("busId"), QString(QStringLiteral("PCI:") + QString(100000, QLatin1Char('1')) + QStringLiteral("@0:0:0"))) << bad;
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

    void backupOnce()
    {
        write(QStringLiteral("/etc/modprobe.d/blacklist-nouveau.conf"), "blacklist nouveau\n");
        write(QStringLiteral("/etc/X11/xorg.conf.d/10-keyboard.conf"), "Section \"InputClass\"\nEndSection\n");
        QVERIFY(QFile::link(QStringLiteral("/etc/modprobe.d/blacklist-nouveau.conf"), QStringLiteral("/etc/modprobe.d/alias.conf")));
        // A stale file from an older backup must not survive into the new one, but what the
        // restore command set aside in the backup folder must.
        write(backupDir + QStringLiteral("/modprobe.d/stale.conf"), "stale");
        write(backupDir + QStringLiteral("/set-aside-20260101-120000/xorg.conf.d/30-extra.conf"), "kept");

        DriverSwitchHelper helper;
        QCOMPARE(replyText(helper.replace(replaceArgs())), QString());
        QVERIFY(QFileInfo(mark).isFile());
        QCOMPARE(read(backupDir + QStringLiteral("/modprobe.d/blacklist-nouveau.conf")), QByteArray("blacklist nouveau\n"));
        QCOMPARE(QFileInfo(backupDir + QStringLiteral("/modprobe.d/alias.conf")).symLinkTarget(), QStringLiteral("/etc/modprobe.d/blacklist-nouveau.conf"));
        QCOMPARE(read(backupDir + QStringLiteral("/xorg.conf.d/10-keyboard.conf")), QByteArray("Section \"InputClass\"\nEndSection\n"));
        QVERIFY(!QFileInfo::exists(backupDir + QStringLiteral("/xorg.conf.d/20-vela-admin-video-driver.conf"))); // taken before the switch
        QVERIFY(!QFileInfo::exists(backupDir + QStringLiteral("/modprobe.d/stale.conf")));
        QCOMPARE(read(backupDir + QStringLiteral("/set-aside-20260101-120000/xorg.conf.d/30-extra.conf")), QByteArray("kept"));
        QVERIFY(!QFileInfo::exists(backupDir + QStringLiteral(".old")));

        // With the mark present the next change takes no copy.
        write(QStringLiteral("/etc/modprobe.d/later.conf"), "later");
        QCOMPARE(replyText(helper.replace(replaceArgs())), QString());
        QVERIFY(!QFileInfo::exists(backupDir + QStringLiteral("/modprobe.d/later.conf")));

        // Without the mark it does.
        QVERIFY(QFile::remove(mark));
        QCOMPARE(replyText(helper.replace(replaceArgs())), QString());
        QCOMPARE(read(backupDir + QStringLiteral("/modprobe.d/later.conf")), QByteArray("later"));
    }

    void untrustedMark_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("symlink") << QStringLiteral("symlink");
        QTest::newRow("owned by nobody") << QStringLiteral("nobody");
        QTest::newRow("folder") << QStringLiteral("folder");
        // Root owns it, but it is another file's name: the helper never made it.
        QTest::newRow("hard link to a root file") << QStringLiteral("hardlink");
    }
    void untrustedMark()
    {
        QFETCH(QString, kind);
        const QString target = QStringLiteral("/tmp/victim");
        write(target, "untouched");
        if (kind == QLatin1String("symlink")) {
            QVERIFY(QFile::link(target, mark));
        } else if (kind == QLatin1String("nobody")) {
            write(mark, QByteArray());
            QCOMPARE(::chown(QFile::encodeName(mark).constData(), 65534, 65534), 0);
        } else if (kind == QLatin1String("hardlink")) {
            QCOMPARE(::link(QFile::encodeName(target).constData(), QFile::encodeName(mark).constData()), 0);
        } else {
            QVERIFY(QDir().mkpath(mark));
        }
        write(QStringLiteral("/etc/modprobe.d/a.conf"), "a");
        DriverSwitchHelper helper;
        QCOMPARE(replyText(helper.replace(replaceArgs())), QString());
        QCOMPARE(read(target), QByteArray("untouched"));
        if (kind == QLatin1String("folder")) {
            // A folder cannot be swapped for a mark; no backup then, the switch goes on.
            QVERIFY(!QFileInfo::exists(backupDir));
        } else {
            QFileInfo info(mark);
            QVERIFY(info.isFile() && !info.isSymLink());
            QCOMPARE(info.ownerId(), 0u);
            QCOMPARE(read(mark), QByteArray());
            QCOMPARE(read(backupDir + QStringLiteral("/modprobe.d/a.conf")), QByteArray("a"));
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
            return "Section \"Device\"\n    Identifier \"Intel Graphics\"\n    Driver \"" + driver + "\"\n    Option \"TearFree\" \"" + value + "\"\nEndSection\n";
        };
        const QString vendorError = QStringLiteral("Did not receive proper GPU vendor");
        const QString charError = QStringLiteral("The driver name or the TearFree value holds characters an XOrg configuration cannot take");
        QTest::newRow("intel on") << tearing(QStringLiteral("intel"), QStringLiteral("intel"), true) << QString() << intelFile << layout("intel", "true");
        QTest::newRow("intel off") << tearing(QStringLiteral("intel"), QStringLiteral("modesetting"), false) << QString() << intelFile << layout("modesetting", "false");
        QTest::newRow("amd text value") << tearing(QStringLiteral("amd"), QStringLiteral("amdgpu"), QStringLiteral("true")) << QString() << amdFile << layout("amdgpu", "true");
        QTest::newRow("value missing") << tearing(QStringLiteral("amd"), QStringLiteral("amdgpu"), QVariant()) << QString() << amdFile << layout("amdgpu", "");
        QTest::newRow("empty map") << QVariantMap() << vendorError << QString() << QByteArray();
        QTest::newRow("capital Intel") << tearing(QStringLiteral("Intel"), QStringLiteral("intel"), true) << vendorError << QString() << QByteArray();
        QTest::newRow("vendor path") << tearing(QStringLiteral("../intel"), QStringLiteral("intel"), true) << vendorError << QString() << QByteArray();
        QTest::newRow("vendor list") << tearing(QStringList{QStringLiteral("intel")}, QStringLiteral("intel"), true) << vendorError << QString() << QByteArray();
        QTest::newRow("driver missing") << tearing(QStringLiteral("intel"), QVariant(), true)
                                        << QStringLiteral("No XOrg driver name was given for the tearing configuration") << QString() << QByteArray();
        QTest::newRow("driver unknown") << tearing(QStringLiteral("intel"), QStringLiteral("vesa"), true)
                                        << QStringLiteral("The XOrg driver \"vesa\" is not installed: no vesa_drv.so in the XOrg driver folders.") << QString()
                                        << QByteArray();
        QTest::newRow("driver with line feed") << tearing(QStringLiteral("intel"), QStringLiteral("intel\"\nOption \"x"), true) << charError << QString() << QByteArray();
        QTest::newRow("driver with NUL") << tearing(QStringLiteral("intel"), QString(QStringLiteral("intel") + QChar(0)), true) << charError << QString() << QByteArray();
        QTest::newRow("value with quote") << tearing(QStringLiteral("intel"), QStringLiteral("intel"), QStringLiteral("true\" \"x")) << charError << QString() << QByteArray();
        QTest::newRow("value with backslash") << tearing(QStringLiteral("intel"), QStringLiteral("intel"), QStringLiteral("\\")) << charError << QString() << QByteArray();
        QTest::newRow("value is a list") << tearing(QStringLiteral("intel"), QStringLiteral("intel"), QVariantList{true}) << charError << QString() << QByteArray();
        QTest::newRow("driver is a map") << tearing(QStringLiteral("intel"), QVariantMap{{QStringLiteral("a"), 1}}, true) << charError << QString() << QByteArray();
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
        QTest::addColumn<QVariantMap>("args");
        QTest::addColumn<QByteArray>("stub"); // update-grub; empty: none installed
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QByteArray>("fileAfter");
        const QByteArray recording = "#!/bin/sh\necho \"$PATH\" > /tmp/update-grub.ran\nexit 0\n";
        const QByteArray newText = QByteArray(grubText).replace("\"quiet\"", "\"quiet i915.enable_guc=3 i915.enable_fbc=1\"");
        const auto content = [](const QVariant &v) {
            return QVariantMap{{QStringLiteral("grub_content"), v}};
        };
        QTest::newRow("written, update-grub ran") << content(QString::fromUtf8(newText)) << recording << QString() << newText;
        QTest::newRow("no final line feed") << content(QString::fromUtf8(newText.chopped(1))) << recording << QString() << newText.chopped(1);
        QTest::newRow("update-grub fails") << content(QString::fromUtf8(newText)) << QByteArray("#!/bin/sh\nexit 3\n")
                                           << QStringLiteral("acceleration change: update-grub failed with exit code 3") << newText;
        QTest::newRow("update-grub missing") << content(QString::fromUtf8(newText)) << QByteArray()
                                             << QStringLiteral("acceleration change: update-grub could not be started") << newText;
        QTest::newRow("update-grub hangs") << content(QString::fromUtf8(newText)) << QByteArray("#!/bin/sh\nexec /bin/sleep 60\n")
                                           << QStringLiteral("acceleration change: update-grub did not finish within 1 seconds") << newText;
        QTest::newRow("empty map") << QVariantMap() << recording << QStringLiteral("acceleration change: Empty arguments!") << grubText;
        QTest::newRow("content missing") << QVariantMap{{QStringLiteral("x"), 1}} << recording << QStringLiteral("acceleration change: grub content empty") << grubText;
        QTest::newRow("content empty") << content(QString()) << recording << QStringLiteral("acceleration change: grub content empty") << grubText;
        QTest::newRow("content is a list") << content(QStringList{QString::fromUtf8(newText)}) << recording << QStringLiteral("acceleration change: grub content empty")
                                           << grubText;
        QTest::newRow("other line changed") << content(QString::fromUtf8(grubText).replace(QStringLiteral("TIMEOUT=5"), QStringLiteral("TIMEOUT=0"))) << recording
                                            << QStringLiteral("acceleration change: refusing a change to lines other than GRUB_CMDLINE_LINUX_DEFAULT") << grubText;
        QTest::newRow("command in cmdline") << content(QString::fromUtf8(grubText).replace(QStringLiteral("\"quiet\""), QStringLiteral("\"$(touch /tmp/owned)\""))) << recording
                                            << QStringLiteral("acceleration change: refusing a GRUB_CMDLINE_LINUX_DEFAULT line that is not a plain quoted value") << grubText;
        QTest::newRow("NUL in content") << content(QString(QString::fromUtf8(grubText) + QChar(0) + QStringLiteral("x"))) << recording
                                        << QStringLiteral("acceleration change: refusing a change to lines other than GRUB_CMDLINE_LINUX_DEFAULT") << grubText;
    }
    void acceleration()
    {
        QFETCH(QVariantMap, args);
        QFETCH(QByteArray, stub);
        QFETCH(QString, reply);
        QFETCH(QByteArray, fileAfter);
        write(grub, grubText);
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
        QCOMPARE(QFileInfo(grub).permissions() & 0x7777, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser
                     | QFileDevice::ReadGroup | QFileDevice::ReadOther);
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
        QTest::newRow("replace") << QStringLiteral("replace") << QStringLiteral("/etc/X11/xorg.conf.d") << snippet << QStringLiteral("XOrg configuration update error");
        QTest::newRow("tearing") << QStringLiteral("tearing") << QStringLiteral("/etc/X11/xorg.conf.d") << QStringLiteral("/etc/X11/xorg.conf.d/20-intel-tearing.conf")
                                 << QStringLiteral("Cannot write to XOrg config file");
        QTest::newRow("acceleration") << QStringLiteral("acceleration") << QStringLiteral("/etc/default") << grub << QStringLiteral("acceleration change: ");
    }
    void fullDisk()
    {
        QFETCH(QString, action);
        QFETCH(QString, dir);
        QFETCH(QString, path);
        QFETCH(QString, reply);
        const QByteArray previous = action == QLatin1String("acceleration") ? grubText : QByteArray("Section \"Device\"\n    Driver \"intel\"\nEndSection\n\n");
        write(QStringLiteral("/tmp/driver-root.mark"), QByteArray()); // no backup in this test
        QVERIFY(mountFullTmpfs(dir, path, previous));
        Unmount unmount{dir};
        DriverSwitchHelper helper;
        KAuth::ActionReply result;
        const QString big(64 * 1024, QLatin1Char('x'));
        if (action == QLatin1String("replace")) {
            result = helper.replace(with(replaceArgs(), QStringLiteral("modelName"), big));
        } else if (action == QLatin1String("tearing")) {
            // The tearing file is small: fill what the filler left.
            result = helper.tearing({{QStringLiteral("vendor"), QStringLiteral("intel")}, {QStringLiteral("driverName"), QStringLiteral("intel")}, {QStringLiteral("shouldEnable"), big}});
        } else {
            result = helper.acceleration({{QStringLiteral("grub_content"), QString::fromUtf8(grubText).replace(QStringLiteral("quiet"), big)}});
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
        QTest::newRow("backup fails") << QStringLiteral("backup fails") << QString()
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
            // A file where the backup is staged: no folder can be made there.
            write(backupDir + QStringLiteral(".new"), "in the way");
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
        QFile::remove(backupDir + QStringLiteral(".new"));
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

HARNESS_TEST_MAIN(HelperActionsTest, QByteArrayLiteral(KAUTH_HARNESS_DIR "/kauth-fixture-ns.sh"))
#include "test_helperactions.moc"
