// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

// Runs the real corvo-admin-driver inside the namespace that harness/gpu-fixture.sh sets up:
// the hardware probe sees fake adapters, the package database is a fixture universe, the
// boot loader defaults and the X log are the test's own, the X server counts as the display
// manager's whatever runs on the host, and no system bus is reachable, so a request that gets
// as far as the privileged helper fails like an unreachable helper does.

namespace
{
const QString intelBus = QStringLiteral("PCI:00@0000:02:0");
const QString nvidiaBus = QStringLiteral("PCI:00@0000:03:0");
const QString amdBus = QStringLiteral("PCI:00@0000:04:0");

QString grub(const QString &commandLine)
{
    return QStringLiteral("GRUB_DEFAULT=0\nGRUB_CMDLINE_LINUX_DEFAULT=\"%1\"\nGRUB_CMDLINE_LINUX=\"\"\n").arg(commandLine);
}

QString lines(const QStringList &list)
{
    return list.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

// True when /etc/default is a tmpfs of this mount namespace, where writing the defaults is harmless.
bool privateEtcDefault()
{
    QFile mounts(QStringLiteral("/proc/self/mountinfo"));
    if (!mounts.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QList<QByteArray> entries = mounts.readAll().split('\n');
    for (const QByteArray &entry : entries) {
        const QList<QByteArray> fields = entry.split(' ');
        if (fields.size() > 4 && fields.at(4) == "/etc/default" && entry.contains(" - tmpfs ")) {
            return true;
        }
    }
    return false;
}

struct Outcome {
    QString out;
    QString err;
    int status = -1;
};
}

class CliChangeTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void actions_data();
    void actions();

private:
    Outcome runTool(const QStringList &args, const QString &universe);
    void prepareFiles(const QString &grubContent, bool knownXDriver);
    QString m_gpus;
};

void CliChangeTest::initTestCase()
{
    m_gpus = QString::fromLocal8Bit(qgetenv("CLICHANGE_MACHINE"));
    // Outside the namespace the tool would see the host and change /etc/default.
    if (m_gpus.isEmpty() || !qEnvironmentVariableIsSet("GPU_FIXTURE") || !qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS") || !privateEtcDefault()) {
        QFAIL("run through harness/gpu-fixture.sh --etc-default --no-system-bus with CLICHANGE_MACHINE set");
    }
}

Outcome CliChangeTest::runTool(const QStringList &args, const QString &universe)
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("APT_CONFIG"), QStringLiteral(CLI_APT_CONF_DIR "/apt-%1.conf").arg(universe));
    env.insert(QStringLiteral("LANGUAGE"), QStringLiteral("C"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    tool.setProcessEnvironment(env);
    tool.start(QStringLiteral(CORVO_ADMIN_DRIVER), args);
    Outcome outcome;
    if (!tool.waitForFinished(30000)) {
        tool.kill();
        tool.waitForFinished(1000);
        outcome.err = QStringLiteral("timed out");
        return outcome;
    }
    outcome.out = QString::fromUtf8(tool.readAllStandardOutput());
    outcome.err = QString::fromUtf8(tool.readAllStandardError());
    outcome.status = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    return outcome;
}

void CliChangeTest::prepareFiles(const QString &grubContent, bool knownXDriver)
{
    QFile::remove(QStringLiteral("/etc/default/grub"));
    if (!grubContent.isNull()) {
        QFile file(QStringLiteral("/etc/default/grub"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(grubContent.toUtf8());
    }
    // The X driver of the NVIDIA adapter is known when its DRM link exists and the display
    // manager's X log names the driver.
    const QString link = QStringLiteral("/dev/dri/by-path/pci-0000:00:03.0-card");
    QFile::remove(link);
    QFile::remove(QStringLiteral("/var/log/vela-dm/Xorg.0.log"));
    if (knownXDriver) {
        QVERIFY(QDir().mkpath(QStringLiteral("/dev/dri/by-path")));
        QFile card(QStringLiteral("/dev/dri/card0"));
        QVERIFY(card.exists() || card.open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(QStringLiteral("../card0"), link));
        QVERIFY(QDir().mkpath(QStringLiteral("/var/log/vela-dm")));
        QFile log(QStringLiteral("/var/log/vela-dm/Xorg.0.log"));
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write("[    10.100] (II) LoadModule: \"modesetting\"\n[    10.200] (II) modeset(0): using drv /dev/dri/card0\n");
    }
}

void CliChangeTest::actions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("universe");
    QTest::addColumn<QString>("grubContent"); // null: no file
    QTest::addColumn<bool>("knownXDriver");
    QTest::addColumn<QString>("expectedOut");
    QTest::addColumn<int>("expectedStatus");
    QTest::addColumn<QString>("expectedErr"); // a line the log must hold; empty: not checked

    const QString complete = QStringLiteral("complete");
    const QString noGrub;
    const QString helperError = QStringLiteral("D-Bus helper error: ");
    const QString intelMissing = lines({QStringLiteral("Intel GPU is missing.")});
    const QStringList intelActions = {QStringLiteral("intel-accel-status"), QStringLiteral("intel-accel-enable"), QStringLiteral("intel-accel-disable")};

    if (m_gpus == QLatin1String("nvidia")) {
        for (const QString &action : intelActions) {
            QTest::newRow(qPrintable(action + QStringLiteral(" without Intel")))
                << QStringList{action} << complete << grub(QStringLiteral("quiet")) << false << intelMissing << 255 << QString();
        }
        QTest::newRow("set-guc without Intel") << QStringList{QStringLiteral("intel-accel-set-guc"), QStringLiteral("3")} << complete
                                               << grub(QStringLiteral("quiet")) << false << intelMissing << 255 << QString();
        QTest::newRow("set-fbc without Intel") << QStringList{QStringLiteral("intel-accel-set-fbc"), QStringLiteral("1")} << complete
                                               << grub(QStringLiteral("quiet")) << false << intelMissing << 255 << QString();
        return;
    }

    // list-packages, in the package database's own order; packages without aliases or with an
    // empty alias group are never listed
    QTest::newRow("packages for NVIDIA") << QStringList{QStringLiteral("list-packages"), nvidiaBus} << complete << noGrub << false
                                         << lines({QStringLiteral("nvidia-driver (installed)"), QStringLiteral("firmware-misc-nonfree (installed)")}) << 0
                                         << QString();
    QTest::newRow("packages for Intel") << QStringList{QStringLiteral("list-packages"), intelBus} << complete << noGrub << false
                                        << lines({QStringLiteral("xserver-xorg-video-intel")}) << 0 << QString();
    QTest::newRow("no package for AMD") << QStringList{QStringLiteral("list-packages"), amdBus} << complete << noGrub << false
                                        << lines({QStringLiteral("Cannot find any compatible driver packages")}) << 0 << QString();
    QTest::newRow("packages, unknown GPU") << QStringList{QStringLiteral("list-packages"), QStringLiteral("nope")} << complete << noGrub << false
                                           << lines({QStringLiteral("Couldn't find GPU by BusID / Model / Vendor using argument nope")}) << 255 << QString();
    QTest::newRow("packages, database unreadable") << QStringList{QStringLiteral("list-packages"), nvidiaBus} << QStringLiteral("broken") << noGrub << false
                                                   << lines({QStringLiteral("Unable to parse package file " CLI_APT_FIXTURE "/dpkg/status-broken (1)")}) << 255
                                                   << QString();

    // list-packages where sources disagree: the field counts only in the record of the version
    // APT would install (the candidate), wherever else it appears; an installed package found in
    // no source has its status record as the candidate's; field names are read without regard to
    // case. The same universe with its lists plain and compressed lists the same.
    for (const QString &universe : {QStringLiteral("versions"), QStringLiteral("versions-gzip"), QStringLiteral("versions-xz")}) {
        const struct {
            const char *what;
            QString gpu;
            QString expected;
        } cases[] = {
            // NVIDIA: old-aliases-driver has the field only in an older version's stanza,
            // installed-old-aliases only in its installed (older) version's stanza
            {"only the status record declares it", nvidiaBus, QStringLiteral("local-nvidia-driver (installed)")},
            {"only the newer source's version declares it", intelBus, QStringLiteral("new-aliases-driver")},
            {"field name in lower case", amdBus, QStringLiteral("lowercase-field-driver")},
        };
        for (const auto &c : cases) {
            QTest::newRow(qPrintable(QStringLiteral("packages, %1, %2").arg(universe, QLatin1String(c.what))))
                << QStringList{QStringLiteral("list-packages"), c.gpu} << universe << noGrub << false << lines({c.expected}) << 0 << QString();
        }
    }

    // set-module
    QTest::newRow("unknown module") << QStringList{QStringLiteral("set-module"), nvidiaBus, QStringLiteral("nvidia")} << complete << noGrub << false
                                    << lines({QStringLiteral("Cannot find module nvidia for GPU ") + nvidiaBus}) << 255 << QString();
    QTest::newRow("module of another adapter") << QStringList{QStringLiteral("set-module"), nvidiaBus, QStringLiteral("i915")} << complete << noGrub << false
                                               << lines({QStringLiteral("Cannot find module i915 for GPU ") + nvidiaBus}) << 255 << QString();
    QTest::newRow("module name case matters") << QStringList{QStringLiteral("set-module"), nvidiaBus, QStringLiteral("Nouveau")} << complete << noGrub << false
                                              << lines({QStringLiteral("Cannot find module Nouveau for GPU ") + nvidiaBus}) << 255 << QString();
    QTest::newRow("empty module") << QStringList{QStringLiteral("set-module"), nvidiaBus, QString()} << complete << noGrub << false
                                  << lines({QStringLiteral("Cannot find module  for GPU ") + nvidiaBus}) << 255 << QString();
    QTest::newRow("module, unknown GPU") << QStringList{QStringLiteral("set-module"), QStringLiteral("PCI:9"), QStringLiteral("nouveau")} << complete << noGrub
                                         << false << lines({QStringLiteral("Couldn't find GPU by BusID / Model / Vendor using argument PCI:9")}) << 255
                                         << QString();
    QTest::newRow("module in use still asks the helper")
        << QStringList{QStringLiteral("set-module"), nvidiaBus, QStringLiteral("nouveau")} << complete << noGrub << false << QString() << 255 << helperError;
    QTest::newRow("other module asks the helper") << QStringList{QStringLiteral("set-module"), amdBus, QStringLiteral("radeon")} << complete << noGrub << false
                                                  << QString() << 255 << helperError;

    // set-xorg
    QTest::newRow("empty X driver") << QStringList{QStringLiteral("set-xorg"), nvidiaBus, QString()} << complete << noGrub << false << QString() << 255
                                    << QStringLiteral("The driver name is not specified.");
    QTest::newRow("unknown current X driver refuses nothing")
        << QStringList{QStringLiteral("set-xorg"), nvidiaBus, QStringLiteral("nvidia")} << complete << noGrub << false << QString() << 255 << helperError;
    // The log tag "modeset" stands for the installed modesetting driver: only that one is refused.
    QTest::newRow("X driver in use") << QStringList{QStringLiteral("set-xorg"), nvidiaBus, QStringLiteral("modesetting")} << complete << noGrub << true
                                     << lines({QStringLiteral("You are trying to set current xorg driver")}) << 255 << QString();
    QTest::newRow("the log tag is no X driver name") << QStringList{QStringLiteral("set-xorg"), nvidiaBus, QStringLiteral("modeset")} << complete << noGrub
                                                     << true << QString() << 255 << helperError;
    QTest::newRow("other X driver asks the helper") << QStringList{QStringLiteral("set-xorg"), nvidiaBus, QStringLiteral("nouveau")} << complete << noGrub
                                                    << true << QString() << 255 << helperError;
    QTest::newRow("X driver, unknown GPU") << QStringList{QStringLiteral("set-xorg"), QStringLiteral("AMD"), QStringLiteral("amdgpu")} << complete << noGrub
                                           << false << lines({QStringLiteral("Couldn't find GPU by BusID / Model / Vendor using argument AMD")}) << 255
                                           << QString();

    // Intel acceleration
    const QString status = QStringLiteral("Current Intel GPU acceleration settings:\n\tGuC mode: %1\n\tFrame Buffer Compression (FBC): %2\n");
    QTest::newRow("status, full") << QStringList{QStringLiteral("intel-accel-status")} << complete
                                  << grub(QStringLiteral("quiet i915.enable_guc=3 i915.enable_fbc=1")) << false
                                  << status.arg(QStringLiteral("3"), QStringLiteral("enabled")) << 0 << QString();
    QTest::newRow("status, nothing set") << QStringList{QStringLiteral("intel-accel-status")} << complete << grub(QStringLiteral("quiet")) << false
                                         << status.arg(QStringLiteral("0"), QStringLiteral("disabled")) << 0 << QString();
    QTest::newRow("status, only commented") << QStringList{QStringLiteral("intel-accel-status")} << complete
                                            << QStringLiteral("#GRUB_CMDLINE_LINUX_DEFAULT=\"i915.enable_guc=2 i915.enable_fbc=1\"\n") << false
                                            << status.arg(QStringLiteral("0"), QStringLiteral("disabled")) << 0 << QString();
    // No file is no GuC mode 0.
    QTest::newRow("status, no file") << QStringList{QStringLiteral("intel-accel-status")} << complete << noGrub << false
                                     << lines({QStringLiteral("Error: File reading error /etc/default/grub")}) << 255 << QString();
    QTest::newRow("status, tabs between options") << QStringList{QStringLiteral("intel-accel-status")} << complete
                                                  << grub(QStringLiteral("quiet\ti915.enable_fbc=1\ti915.enable_guc=2")) << false
                                                  << status.arg(QStringLiteral("2"), QStringLiteral("enabled")) << 0 << QString();

    // "--" ends the options, so that "-1" reaches the handler as a value.
    for (const QString &value : {QStringLiteral("4"),
                                 QStringLiteral("-1"),
                                 QStringLiteral("x"),
                                 QStringLiteral("1.5"),
                                 QStringLiteral(" 3"),
                                 QStringLiteral("+2"),
                                 QStringLiteral("03"),
                                 QStringLiteral("")}) {
        QTest::newRow(qPrintable(QStringLiteral("set-guc ") + value))
            << QStringList{QStringLiteral("intel-accel-set-guc"), QStringLiteral("--"), value} << complete << grub(QStringLiteral("quiet")) << false
            << lines({QStringLiteral("Invalid argument: %1. Use values 0, 1, 2, or 3.").arg(value)}) << 255 << QString();
    }
    QTest::newRow("set-guc already set") << QStringList{QStringLiteral("intel-accel-set-guc"), QStringLiteral("2")} << complete
                                         << grub(QStringLiteral("quiet i915.enable_guc=2")) << false
                                         << lines({QStringLiteral("Error: The i915.enable_guc value is already set.")}) << 255 << QString();
    QTest::newRow("set-guc, packages missing")
        << QStringList{QStringLiteral("intel-accel-set-guc"), QStringLiteral("3")} << QStringLiteral("partial") << grub(QStringLiteral("quiet")) << false
        << lines({QStringLiteral("Error: The necessary packages for Intel hardware acceleration to work are missing: intel-media-va-driver"),
                  QStringLiteral("mesa-va-drivers")})
        << 255 << QString();
    // Without a bus KAuth's own reason is all there is; it reaches the administrator.
    const QString noBus = QStringLiteral("Error: Error writing to a file /etc/default/grub: Tried to start an invalid action");
    QTest::newRow("set-guc reaches the helper") << QStringList{QStringLiteral("intel-accel-set-guc"), QStringLiteral("3")} << complete
                                                << grub(QStringLiteral("quiet")) << false << lines({noBus}) << 255 << QString();
    QTest::newRow("set-guc, escaped quote") << QStringList{QStringLiteral("intel-accel-set-guc"), QStringLiteral("3")} << complete
                                            << grub(QStringLiteral("a=\\\"b\\\"")) << false
                                            << lines({QStringLiteral("Error: Error when modifying the kernel parameter i915.enable_guc")}) << 255 << QString();

    for (const QString &value : {QStringLiteral("true"), QStringLiteral("2"), QStringLiteral("01")}) {
        QTest::newRow(qPrintable(QStringLiteral("set-fbc ") + value))
            << QStringList{QStringLiteral("intel-accel-set-fbc"), value} << complete << grub(QStringLiteral("quiet")) << false
            << lines({QStringLiteral("Invalid argument: %1. Use 0 (disable) or 1 (enable).").arg(value)}) << 255 << QString();
    }
    QTest::newRow("set-fbc already set") << QStringList{QStringLiteral("intel-accel-set-fbc"), QStringLiteral("0")} << complete
                                         << grub(QStringLiteral("i915.enable_fbc=0")) << false
                                         << lines({QStringLiteral("Error: The i915.enable_fbc value is already set.")}) << 255 << QString();
    QTest::newRow("set-fbc already set after a tab") << QStringList{QStringLiteral("intel-accel-set-fbc"), QStringLiteral("1")} << complete
                                                     << grub(QStringLiteral("quiet\ti915.enable_fbc=1")) << false
                                                     << lines({QStringLiteral("Error: The i915.enable_fbc value is already set.")}) << 255 << QString();
    QTest::newRow("set-fbc, no command line") << QStringList{QStringLiteral("intel-accel-set-fbc"), QStringLiteral("1")} << complete
                                              << QStringLiteral("GRUB_DEFAULT=0\n") << false
                                              << lines({QStringLiteral("Error: Error when modifying the kernel parameter i915.enable_fbc")}) << 255
                                              << QString();
    QTest::newRow("enable, packages missing")
        << QStringList{QStringLiteral("intel-accel-enable")} << QStringLiteral("partial") << grub(QStringLiteral("quiet")) << false
        << lines({QStringLiteral("Error: The necessary packages for Intel hardware acceleration to work are missing: intel-media-va-driver, mesa-va-drivers")})
        << 255 << QString();
    QTest::newRow("enable, no file") << QStringList{QStringLiteral("intel-accel-enable")} << complete << noGrub << false
                                     << lines({QStringLiteral("Error: File reading error /etc/default/grub")}) << 255 << QString();
    QTest::newRow("disable, no command line") << QStringList{QStringLiteral("intel-accel-disable")} << complete << QStringLiteral("GRUB_DEFAULT=0\n") << false
                                              << lines({QStringLiteral("Error: Error when modifying the kernel parameter i915.enable_guc, i915.enable_fbc")})
                                              << 255 << QString();
    QTest::newRow("disable reaches the helper") << QStringList{QStringLiteral("intel-accel-disable")} << complete << grub(QStringLiteral("i915.enable_guc=3"))
                                                << false << lines({noBus}) << 255 << QString();
}

void CliChangeTest::actions()
{
    QFETCH(QStringList, args);
    QFETCH(QString, universe);
    QFETCH(QString, grubContent);
    QFETCH(bool, knownXDriver);
    QFETCH(QString, expectedOut);
    QFETCH(int, expectedStatus);
    QFETCH(QString, expectedErr);

    prepareFiles(grubContent, knownXDriver);
    const Outcome outcome = runTool(args, universe);
    QCOMPARE(outcome.out, expectedOut);
    QCOMPARE(outcome.status, expectedStatus);
    if (!expectedErr.isEmpty() && !outcome.err.contains(expectedErr)) {
        QFAIL(qPrintable(QStringLiteral("the log lacks \"%1\"; it was:\n%2").arg(expectedErr, outcome.err)));
    }
    // The tool never writes the defaults itself.
    if (!grubContent.isNull()) {
        QFile file(QStringLiteral("/etc/default/grub"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()), grubContent);
    }
}

QTEST_GUILESS_MAIN(CliChangeTest)
#include "clichangetest.moc"
