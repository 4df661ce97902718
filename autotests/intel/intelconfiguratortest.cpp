// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "helperclient.h"
#include "intelvideoconfigurator.h"
#include "systempaths.h"

#include "recordinghelperrunner.h"

#include <QFile>
#include <QTest>

// The configurator on the real defaults path, inside a private mount namespace where the
// test owns /etc/default, and on fixture package universes. Only the bus to the privileged
// helper is replaced, by a runner that records what would be sent.

namespace
{
QString grub(const QString &commandLine)
{
    return QStringLiteral(
               "# If you change this file, run 'update-grub' afterwards.\nGRUB_DEFAULT=0\nGRUB_TIMEOUT=5\n"
               "GRUB_CMDLINE_LINUX_DEFAULT=\"%1\"\nGRUB_CMDLINE_LINUX=\"\"\n")
        .arg(commandLine);
}

void useUniverse(const char *name)
{
    qputenv("APT_CONFIG", QByteArray(APT_CONF_DIR "/apt-") + name + ".conf");
}

bool privateEtcDefault()
{
    if (!qEnvironmentVariableIsSet("GPU_FIXTURE")) {
        return false;
    }
    QFile mounts(QStringLiteral("/proc/self/mountinfo"));
    if (!mounts.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QList<QByteArray> lines = mounts.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 4 && fields.at(4) == "/etc/default" && line.contains(" - tmpfs ")) {
            return true;
        }
    }
    return false;
}

enum class Operation { GucMode, Fbc, Acceleration };
}

Q_DECLARE_METATYPE(Operation)

class IntelConfiguratorTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void reading_data();
    void reading();
    void setters_data();
    void setters();
    void missingPackages_data();
    void missingPackages();

private:
    void writeGrub(const QString &content);
};

void IntelConfiguratorTest::initTestCase()
{
    // Never write the host's boot loader defaults.
    if (!privateEtcDefault()) {
        QFAIL("run through harness/gpu-fixture.sh --etc-default: /etc/default must be a private tmpfs");
    }
}

void IntelConfiguratorTest::init()
{
    QFile::remove(SystemPaths::grubDefaults());
    useUniverse("complete");
}

void IntelConfiguratorTest::writeGrub(const QString &content)
{
    QFile file(SystemPaths::grubDefaults());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    // One character per byte: rows spell non-ASCII bytes as Latin-1 characters.
    QVERIFY(file.write(content.toLatin1()) == content.size());
}

void IntelConfiguratorTest::reading_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QString>("content");
    QTest::addColumn<int>("gucMode");
    QTest::addColumn<bool>("fbc");
    QTest::addColumn<bool>("acceleration");

    QTest::newRow("full acceleration") << true << grub(QStringLiteral("quiet i915.enable_guc=3 i915.enable_fbc=1")) << 3 << true << true;
    QTest::newRow("guc 3 without fbc") << true << grub(QStringLiteral("i915.enable_guc=3")) << 3 << false << false;
    QTest::newRow("fbc without guc 3") << true << grub(QStringLiteral("i915.enable_guc=2 i915.enable_fbc=1")) << 2 << true << false;
    QTest::newRow("fbc Y is not enabled") << true << grub(QStringLiteral("i915.enable_guc=3 i915.enable_fbc=Y")) << 3 << false << false;
    QTest::newRow("guc out of range") << true << grub(QStringLiteral("i915.enable_guc=7 i915.enable_fbc=1")) << 0 << true << false;
    QTest::newRow("nothing set") << true << grub(QStringLiteral("quiet splash")) << 0 << false << false;
    QTest::newRow("only the commented line sets them")
        << true << QStringLiteral("#GRUB_CMDLINE_LINUX_DEFAULT=\"i915.enable_guc=3 i915.enable_fbc=1\"\nGRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\n") << 0 << false
        << false;
    QTest::newRow("empty file") << true << QString() << 0 << false << false;
    QTest::newRow("no file") << false << QString() << 0 << false << false;
}

void IntelConfiguratorTest::reading()
{
    QFETCH(bool, fileExists);
    QFETCH(QString, content);
    QFETCH(int, gucMode);
    QFETCH(bool, fbc);
    QFETCH(bool, acceleration);
    if (fileExists) {
        writeGrub(content);
    }
    RecordingHelperRunner runner;
    const IntelVideoConfigurator configurator(&runner);
    QCOMPARE(int(configurator.gucMode()), gucMode);
    QCOMPARE(configurator.fbcIsEnable(), fbc);
    QCOMPARE(configurator.isHardwareAccelerationEnabled(), acceleration);
    QVERIFY(runner.calls.isEmpty());
}

void IntelConfiguratorTest::setters_data()
{
    QTest::addColumn<QString>("universe");
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QString>("content");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("argument");
    QTest::addColumn<bool>("helperSucceeds");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("sent"); // the grub_content sent; empty: nothing sent

    const QString complete = QStringLiteral("complete");
    const QString base = grub(QStringLiteral("quiet splash i915.enable_guc=2"));
    const QString missingLines =
        QStringLiteral("The necessary packages for Intel hardware acceleration to work are missing: intel-media-va-driver\nmesa-va-drivers");
    const QString missingCommas =
        QStringLiteral("The necessary packages for Intel hardware acceleration to work are missing: intel-media-va-driver, mesa-va-drivers");
    // The helper's reason reaches the administrator.
    const QString writeError = QStringLiteral("Error writing to a file /etc/default/grub: Authorization denied.");
    const QString readError = QStringLiteral("File reading error /etc/default/grub");

    QTest::newRow("guc 3") << complete << true << base << Operation::GucMode << 3 << true << QString()
                           << grub(QStringLiteral("quiet splash i915.enable_guc=3"));
    QTest::newRow("guc already set") << complete << true << base << Operation::GucMode << 2 << true
                                     << QStringLiteral("The i915.enable_guc value is already set.") << QString();
    QTest::newRow("guc 0 onto duplicates") << complete << true << grub(QStringLiteral("i915.enable_guc=1 i915.enable_guc=2 quiet")) << Operation::GucMode << 0
                                           << true << QString() << grub(QStringLiteral("quiet i915.enable_guc=0"));
    QTest::newRow("guc on empty command line") << complete << true << grub(QString()) << Operation::GucMode << 1 << true << QString()
                                               << grub(QStringLiteral("i915.enable_guc=1"));
    QTest::newRow("guc without command line") << complete << true << QStringLiteral("GRUB_DEFAULT=0\n") << Operation::GucMode << 3 << true
                                              << QStringLiteral("Error when modifying the kernel parameter i915.enable_guc") << QString();
    QTest::newRow("guc with escaped quote") << complete << true << grub(QStringLiteral("quiet x=\\\"y\\\"")) << Operation::GucMode << 3 << true
                                            << QStringLiteral("Error when modifying the kernel parameter i915.enable_guc") << QString();
    QTest::newRow("guc, commented line first") << complete << true
                                               << QStringLiteral("#GRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\nGRUB_CMDLINE_LINUX_DEFAULT=\"splash\"\n")
                                               << Operation::GucMode << 3 << true << QString()
                                               << QStringLiteral(
                                                      "#GRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\nGRUB_CMDLINE_LINUX_DEFAULT=\"splash i915.enable_guc=3\"\n");
    // A Latin-1 byte in one place and UTF-8 bytes in another: every byte but the option goes back as it was.
    const QString mixed = QString::fromLatin1(
        "# Gr\xfc\xdf"
        "e\nGRUB_DISTRIBUTOR=\"Debian \xc3\xa9t\xc3\xa9\"\nGRUB_CMDLINE_LINUX_DEFAULT=\"quiet %1\"\n");
    QTest::newRow("guc, non-UTF-8 bytes kept") << complete << true << mixed.arg(QString()).replace(QStringLiteral("quiet \""), QStringLiteral("quiet\""))
                                               << Operation::GucMode << 3 << true << QString() << mixed.arg(QStringLiteral("i915.enable_guc=3"));
    QTest::newRow("guc, helper fails") << complete << true << base << Operation::GucMode << 3 << false << writeError
                                       << grub(QStringLiteral("quiet splash i915.enable_guc=3"));
    QTest::newRow("guc, no file") << complete << false << QString() << Operation::GucMode << 3 << true << readError << QString();
    QTest::newRow("guc, packages missing") << QStringLiteral("partial") << true << base << Operation::GucMode << 3 << true << missingLines << QString();
    QTest::newRow("guc, package database broken")
        << QStringLiteral("broken") << true << base << Operation::GucMode << 3 << true
        << QStringLiteral(
               "The necessary packages for Intel hardware acceleration to work are missing: linux-firmware or firmware-misc-nonfree\n"
               "intel-microcode\nintel-media-va-driver or intel-media-va-driver-non-free\nmesa-vulkan-drivers\nmesa-vdpau-drivers\nmesa-va-drivers")
        << QString();
    QTest::newRow("guc, nothing installed on Debian")
        << QStringLiteral("bare") << true << base << Operation::GucMode << 3 << true
        << QStringLiteral(
               "The necessary packages for Intel hardware acceleration to work are missing: firmware-misc-nonfree\n"
               "intel-microcode\nintel-media-va-driver\nmesa-vulkan-drivers\nmesa-vdpau-drivers\nmesa-va-drivers")
        << QString();

    QTest::newRow("fbc on") << complete << true << base << Operation::Fbc << 1 << true << QString()
                            << grub(QStringLiteral("quiet splash i915.enable_guc=2 i915.enable_fbc=1"));
    QTest::newRow("fbc off over on") << complete << true << grub(QStringLiteral("i915.enable_fbc=1 quiet")) << Operation::Fbc << 0 << true << QString()
                                     << grub(QStringLiteral("quiet i915.enable_fbc=0"));
    QTest::newRow("fbc already off") << complete << true << grub(QStringLiteral("i915.enable_fbc=0")) << Operation::Fbc << 0 << true
                                     << QStringLiteral("The i915.enable_fbc value is already set.") << QString();
    QTest::newRow("fbc, packages missing") << QStringLiteral("partial") << true << base << Operation::Fbc << 1 << true << missingLines << QString();

    QTest::newRow("enable") << complete << true << base << Operation::Acceleration << 1 << true << QString()
                            << grub(QStringLiteral("quiet splash i915.enable_guc=3 i915.enable_fbc=1"));
    QTest::newRow("enable when already enabled still writes")
        << complete << true << grub(QStringLiteral("i915.enable_guc=3 i915.enable_fbc=1")) << Operation::Acceleration << 1 << true << QString()
        << grub(QStringLiteral("i915.enable_guc=3 i915.enable_fbc=1"));
    QTest::newRow("disable") << complete << true << grub(QStringLiteral("i915.enable_fbc=1 quiet i915.enable_guc=3")) << Operation::Acceleration << 0 << true
                             << QString() << grub(QStringLiteral("quiet"));
    QTest::newRow("disable to an empty command line") << complete << true << grub(QStringLiteral("i915.enable_guc=3 i915.enable_fbc=1"))
                                                      << Operation::Acceleration << 0 << true << QString() << grub(QString());
    QTest::newRow("enable without command line") << complete << true << QStringLiteral("GRUB_DEFAULT=0\n") << Operation::Acceleration << 1 << true
                                                 << QStringLiteral("Error when modifying the kernel parameter i915.enable_guc") << QString();
    QTest::newRow("disable without command line") << complete << true << QStringLiteral("GRUB_DEFAULT=0\n") << Operation::Acceleration << 0 << true
                                                  << QStringLiteral("Error when modifying the kernel parameter i915.enable_guc, i915.enable_fbc") << QString();
    QTest::newRow("enable, helper fails") << complete << true << base << Operation::Acceleration << 1 << false << writeError
                                          << grub(QStringLiteral("quiet splash i915.enable_guc=3 i915.enable_fbc=1"));
    QTest::newRow("enable, no file") << complete << false << QString() << Operation::Acceleration << 1 << true << readError << QString();
    QTest::newRow("enable, packages missing") << QStringLiteral("partial") << true << base << Operation::Acceleration << 1 << true << missingCommas
                                              << QString();
}

void IntelConfiguratorTest::setters()
{
    QFETCH(QString, universe);
    QFETCH(bool, fileExists);
    QFETCH(QString, content);
    QFETCH(Operation, operation);
    QFETCH(int, argument);
    QFETCH(bool, helperSucceeds);
    QFETCH(QString, message);
    QFETCH(QString, sent);

    useUniverse(universe.toLatin1().constData());
    if (fileExists) {
        writeGrub(content);
    }
    RecordingHelperRunner runner;
    runner.reply.ok = helperSucceeds;
    runner.reply.errorText = helperSucceeds ? QString() : QStringLiteral("Authorization denied.");
    IntelVideoConfigurator configurator(&runner);

    QString result;
    switch (operation) {
    case Operation::GucMode:
        result = configurator.setGucMode(static_cast<GucMode>(argument));
        break;
    case Operation::Fbc:
        result = configurator.setFbcMode(argument != 0);
        break;
    case Operation::Acceleration:
        result = configurator.setHardwareAccelerationEnabled(argument != 0);
        break;
    }
    QCOMPARE(result, message);
    if (sent.isEmpty()) {
        QCOMPARE(runner.calls.size(), 0);
    } else {
        QCOMPARE(runner.calls.size(), 1);
        QCOMPARE(runner.calls.at(0).shortName, QStringLiteral("acceleration"));
        QCOMPARE(runner.calls.at(0).args.keys(), QStringList{QStringLiteral("grub_content")});
        const QVariant value = runner.calls.at(0).args.value(QStringLiteral("grub_content"));
        QCOMPARE(value.userType(), int(QMetaType::QByteArray));
        QCOMPARE(value.toByteArray(), sent.toLatin1());
    }
    // The configurator itself never writes the file: only the helper may.
    if (fileExists) {
        QFile file(SystemPaths::grubDefaults());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLatin1(file.readAll()), content);
    }
}

void IntelConfiguratorTest::missingPackages_data()
{
    QTest::addColumn<QString>("universe");
    QTest::addColumn<QStringList>("missing");

    // The universes hold Debian 12's names: firmware-misc-nonfree, never linux-firmware.
    QTest::newRow("all installed, media driver by its non-free twin") << QStringLiteral("complete") << QStringList();
    QTest::newRow("one not installed, one unknown") << QStringLiteral("partial")
                                                    << QStringList{QStringLiteral("intel-media-va-driver"), QStringLiteral("mesa-va-drivers")};
    QTest::newRow("nothing installed: the first alternative the archive knows") << QStringLiteral("bare")
                                                                                << QStringList{QStringLiteral("firmware-misc-nonfree"),
                                                                                               QStringLiteral("intel-microcode"),
                                                                                               QStringLiteral("intel-media-va-driver"),
                                                                                               QStringLiteral("mesa-vulkan-drivers"),
                                                                                               QStringLiteral("mesa-vdpau-drivers"),
                                                                                               QStringLiteral("mesa-va-drivers")};
    QTest::newRow("database cannot be read: every alternative named") << QStringLiteral("broken")
                                                                      << QStringList{QStringLiteral("linux-firmware or firmware-misc-nonfree"),
                                                                                     QStringLiteral("intel-microcode"),
                                                                                     QStringLiteral("intel-media-va-driver or intel-media-va-driver-non-free"),
                                                                                     QStringLiteral("mesa-vulkan-drivers"),
                                                                                     QStringLiteral("mesa-vdpau-drivers"),
                                                                                     QStringLiteral("mesa-va-drivers")};
}

void IntelConfiguratorTest::missingPackages()
{
    QFETCH(QString, universe);
    QFETCH(QStringList, missing);
    useUniverse(universe.toLatin1().constData());
    RecordingHelperRunner runner;
    const IntelVideoConfigurator configurator(&runner);
    QCOMPARE(configurator.missingPackages(), missing);
}

QTEST_GUILESS_MAIN(IntelConfiguratorTest)
#include "intelconfiguratortest.moc"
