// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The fixture universe built by harness/apt-fixture.sh must look to QApt exactly as the table
// autotests/fixtures/apt/packages.txt and the installed list say, and nothing of the host's
// package database may leak into it.

#include <QApt/Backend>
#include <QApt/Package>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class AptFixtureTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void packages_data();
    void packages();
    void onlyFixturePackages_data();
    void onlyFixturePackages();
    void requiredBy_data();
    void requiredBy();
    void unknownInstalledNameIsRefused();

private:
    bool makeFixture(const QString &dir, const QString &installed, QString *errors);
    std::unique_ptr<QApt::Backend> backendFor(const QString &fixture);

    QTemporaryDir m_scratch;
    QString m_script;
    QMap<QString, QString> m_fixtures; // name -> folder
    QStringList m_tableNames;
};

bool AptFixtureTest::makeFixture(const QString &dir, const QString &installed, QString *errors)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!installed.isNull()) {
        env.insert(QStringLiteral("APT_FIXTURE_INSTALLED"), installed);
    }
    process.setProcessEnvironment(env);
    process.start(QStringLiteral("/bin/bash"), {m_script, dir});
    const bool ok = process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    *errors = QString::fromUtf8(process.readAllStandardError());
    return ok;
}

std::unique_ptr<QApt::Backend> AptFixtureTest::backendFor(const QString &fixture)
{
    qputenv("APT_CONFIG", QFile::encodeName(m_fixtures.value(fixture) + QStringLiteral("/apt.conf")));
    auto backend = std::make_unique<QApt::Backend>();
    // init() reads the configuration and builds the cache; no reloadCache() needed.
    if (!backend->init()) {
        qWarning() << "init failed:" << backend->initErrorMessage();
        return nullptr;
    }
    return backend;
}

void AptFixtureTest::initTestCase()
{
    QVERIFY(m_scratch.isValid());
    m_script = QFINDTESTDATA("../harness/apt-fixture.sh");
    QVERIFY(!m_script.isEmpty());

    QFile table(QFINDTESTDATA("../fixtures/apt/packages.txt"));
    QVERIFY(table.open(QIODevice::ReadOnly));
    while (!table.atEnd()) {
        const QString line = QString::fromUtf8(table.readLine()).trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#'))) {
            m_tableNames.append(line.section(QLatin1Char('|'), 0, 0));
        }
    }
    QCOMPARE(m_tableNames.size(), 12);

    const QMap<QString, QString> installedSets = {
        {QStringLiteral("default"), QString()},
        // Flips the Intel acceleration set and drops the NVIDIA driver.
        {QStringLiteral("custom"), QStringLiteral("intel-media-va-driver mesa-vdpau-drivers mesa-va-drivers intel-driver-fixture")},
        {QStringLiteral("none"), QStringLiteral("")},
    };
    for (auto it = installedSets.cbegin(); it != installedSets.cend(); ++it) {
        const QString dir = m_scratch.path() + QLatin1Char('/') + it.key();
        QVERIFY(QDir().mkpath(dir));
        QString errors;
        QVERIFY2(makeFixture(dir, it.value(), &errors), qPrintable(errors));
        m_fixtures.insert(it.key(), dir);
    }
}

void AptFixtureTest::packages_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("modaliases");
    QTest::addColumn<QString>("version");

    const QString nvidiaAlias = QStringLiteral("nvidia(pci:v000010DEd*sv*sd*bc03sc*i*)");
    const QString intelAlias = QStringLiteral("i915(pci:v00008086d*sv*sd*bc03sc*i*)");
    const QString d = QStringLiteral("default");
    const QString c = QStringLiteral("custom");
    QTest::newRow("default: nvidia driver installed, with modaliases")
        << d << QStringLiteral("nvidia-driver-fixture") << true << nvidiaAlias << QStringLiteral("535.183.01-1");
    QTest::newRow("default: intel driver not installed, with modaliases")
        << d << QStringLiteral("intel-driver-fixture") << false << intelAlias << QStringLiteral("23.1-1");
    QTest::newRow("default: driver without modaliases") << d << QStringLiteral("xserver-xorg-video-fixture") << true << QString() << QStringLiteral("1.0-1");
    QTest::newRow("default: firmware-misc-nonfree installed")
        << d << QStringLiteral("firmware-misc-nonfree") << true << QString() << QStringLiteral("20230210-5");
    QTest::newRow("default: intel-microcode installed") << d << QStringLiteral("intel-microcode") << true << QString() << QStringLiteral("3.20231114.1");
    QTest::newRow("default: mesa-vulkan-drivers installed") << d << QStringLiteral("mesa-vulkan-drivers") << true << QString() << QStringLiteral("22.3.6-1");
    QTest::newRow("default: intel-media-va-driver missing")
        << d << QStringLiteral("intel-media-va-driver") << false << QString() << QStringLiteral("23.1.1+dfsg1-1");
    QTest::newRow("default: mesa-vdpau-drivers missing") << d << QStringLiteral("mesa-vdpau-drivers") << false << QString() << QStringLiteral("22.3.6-1");
    QTest::newRow("default: mesa-va-drivers missing") << d << QStringLiteral("mesa-va-drivers") << false << QString() << QStringLiteral("22.3.6-1");
    QTest::newRow("custom: nvidia driver not installed")
        << c << QStringLiteral("nvidia-driver-fixture") << false << nvidiaAlias << QStringLiteral("535.183.01-1");
    QTest::newRow("custom: intel driver installed") << c << QStringLiteral("intel-driver-fixture") << true << intelAlias << QStringLiteral("23.1-1");
    QTest::newRow("custom: firmware-misc-nonfree missing")
        << c << QStringLiteral("firmware-misc-nonfree") << false << QString() << QStringLiteral("20230210-5");
    QTest::newRow("custom: mesa-va-drivers installed") << c << QStringLiteral("mesa-va-drivers") << true << QString() << QStringLiteral("22.3.6-1");
}

void AptFixtureTest::packages()
{
    QFETCH(QString, fixture);
    QFETCH(QString, name);
    QFETCH(bool, installed);
    QFETCH(QString, modaliases);
    QFETCH(QString, version);

    const auto backend = backendFor(fixture);
    QVERIFY(backend);
    QApt::Package *package = backend->package(name);
    QVERIFY2(package, qPrintable(name));
    QCOMPARE(package->isInstalled(), installed);
    QCOMPARE(package->controlField(QStringLiteral("Modaliases")), modaliases);
    QCOMPARE(package->availableVersion(), version);
    QCOMPARE(package->installedVersion(), installed ? version : QString());
}

void AptFixtureTest::onlyFixturePackages_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<int>("installedCount");
    QTest::newRow("default") << QStringLiteral("default") << 8;
    QTest::newRow("custom") << QStringLiteral("custom") << 4;
    QTest::newRow("nothing installed") << QStringLiteral("none") << 0;
}

void AptFixtureTest::onlyFixturePackages()
{
    QFETCH(QString, fixture);
    QFETCH(int, installedCount);
    const auto backend = backendFor(fixture);
    QVERIFY(backend);
    QStringList names;
    for (QApt::Package *package : backend->availablePackages()) {
        names.append(package->name());
    }
    names.sort();
    QStringList expected = m_tableNames;
    expected.sort();
    QCOMPARE(names, expected);
    QCOMPARE(backend->installedCount(), installedCount);
    // A host package that exists on every Debian system must not be visible.
    QVERIFY(!backend->package(QStringLiteral("dpkg")));
}

void AptFixtureTest::requiredBy_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("requiredBy");
    QTest::newRow("library only the driver needs") << QStringLiteral("libnvidia-a-fixture") << QStringList{QStringLiteral("nvidia-driver-fixture")};
    QTest::newRow("library also needed outside the driver")
        << QStringLiteral("libnvidia-b-fixture") << QStringList{QStringLiteral("nvidia-driver-fixture"), QStringLiteral("nvidia-tools-fixture")};
    QTest::newRow("the driver itself") << QStringLiteral("nvidia-driver-fixture") << QStringList();
}

void AptFixtureTest::requiredBy()
{
    QFETCH(QString, name);
    QFETCH(QStringList, requiredBy);
    const auto backend = backendFor(QStringLiteral("default"));
    QVERIFY(backend);
    QApt::Package *package = backend->package(name);
    QVERIFY(package);
    QStringList actual = package->requiredByList();
    actual.sort();
    actual.removeDuplicates();
    QCOMPARE(actual, requiredBy);

    if (name == QStringLiteral("nvidia-driver-fixture")) {
        QStringList depends;
        for (const QApt::DependencyItem &group : package->depends()) {
            for (const QApt::DependencyInfo &alternative : group) {
                depends.append(alternative.packageName());
            }
        }
        QCOMPARE(depends, (QStringList{QStringLiteral("libnvidia-a-fixture"), QStringLiteral("libnvidia-b-fixture")}));
    }
}

void AptFixtureTest::unknownInstalledNameIsRefused()
{
    const QString dir = m_scratch.path() + QStringLiteral("/typo");
    QVERIFY(QDir().mkpath(dir));
    QString errors;
    QVERIFY(!makeFixture(dir, QStringLiteral("firmware-misc-nonfree mesa-va-driver"), &errors));
    QVERIFY2(errors.contains(QStringLiteral("unknown fixture package: mesa-va-driver")), qPrintable(errors));
}

QTEST_GUILESS_MAIN(AptFixtureTest)

#include "aptfixturetest.moc"
