// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The install and remove actions against a fixture APT universe (APT_CONFIG): the purge rule,
// unknown names and a package database that cannot be opened. Runs in the fixture namespace
// because the actions take their backup first.
#include "driverswitchhelper.h"
#include "fixturefs.h"
#include "harnessmain.h"
#include "packagemarks.h"

#include <QTest>

#include <qapt/backend.h>
#include <qapt/package.h>

using namespace FixtureFs;

namespace
{
const QString universe = QStringLiteral("/tmp/apt-universe");

// Copies the fixture to a scratch folder and writes an apt.conf for it; returns its path.
QString prepareUniverse(const QString &source, const QByteArray &statusOverride = QByteArray())
{
    QDir(universe).removeRecursively();
    const QStringList files{QStringLiteral("etc/apt/apt.conf"),
                            QStringLiteral("etc/apt/sources.list"),
                            QStringLiteral("state/dpkg/status"),
                            QStringLiteral("state/extended_states"),
                            QStringLiteral("state/lists/fixture.invalid_debian_dists_bookworm_main_binary-amd64_Packages")};
    for (const QString &file : files) {
        write(universe + QLatin1Char('/') + file, read(source + QLatin1Char('/') + file));
    }
    if (!statusOverride.isNull()) {
        write(universe + QStringLiteral("/state/dpkg/status"), statusOverride);
    }
    QDir().mkpath(universe + QStringLiteral("/cache/archives/partial"));
    QDir().mkpath(universe + QStringLiteral("/log"));
    QByteArray config = read(source + QStringLiteral("/apt.conf.in"));
    config.replace("@FIXTURE@", QFile::encodeName(universe));
    write(universe + QStringLiteral("/apt.conf"), config);
    return universe + QStringLiteral("/apt.conf");
}

QString replyText(const KAuth::ActionReply &reply)
{
    return reply.succeeded() ? QString() : reply.errorDescription();
}
}

class HelperPackagesTest : public QObject
{
    Q_OBJECT
    QString m_fixture;

private Q_SLOTS:
    void initTestCase()
    {
        if (!insideFixtureNamespace()) {
            QFAIL("refusing to run outside the fixture namespace: start it through autotests/harness/kauth-fixture-ns.sh");
        }
        m_fixture = QFINDTESTDATA("aptfixture");
        QVERIFY(!m_fixture.isEmpty());
        write(QStringLiteral("/run/corvo-video-driver/backup.mark"), QByteArray()); // the backup has its own tests
    }

    void init()
    {
        qputenv("APT_CONFIG", QFile::encodeName(prepareUniverse(m_fixture)));
    }

    void marks_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("remove");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("purged");
        QTest::addColumn<QStringList>("untouched");
        QTest::addColumn<QStringList>("installed");
        // gpu-libs came in automatically, gpu-settings was installed by hand.
        QTest::newRow("remove driver")
            << QStringList{QStringLiteral("gpu-driver")} << true << QString() << QStringList{QStringLiteral("gpu-driver"), QStringLiteral("gpu-libs")}
            << QStringList{QStringLiteral("gpu-settings"), QStringLiteral("shared-runtime"), QStringLiteral("media-app"), QStringLiteral("new-driver")}
            << QStringList();
        QTest::newRow("remove essential") << QStringList{QStringLiteral("gpu-driver"), QStringLiteral("base-files")} << true
                                          << QStringLiteral("Refusing to remove base-files: it is an Essential package or of Priority required")
                                          << QStringList()
                                          << QStringList{QStringLiteral("gpu-driver"), QStringLiteral("gpu-libs"), QStringLiteral("base-files")}
                                          << QStringList();
        QTest::newRow("remove priority required") << QStringList{QStringLiteral("mawk")} << true
                                                  << QStringLiteral("Refusing to remove mawk: it is an Essential package or of Priority required")
                                                  << QStringList() << QStringList{QStringLiteral("mawk")} << QStringList();
        QTest::newRow("install essential") << QStringList{QStringLiteral("base-files")} << false
                                           << QStringLiteral("Refusing to install base-files: it is an Essential package or of Priority required")
                                           << QStringList() << QStringList{QStringLiteral("base-files")} << QStringList();
        QTest::newRow("remove a package others need") << QStringList{QStringLiteral("shared-runtime")} << true << QString()
                                                      << QStringList{QStringLiteral("shared-runtime")}
                                                      << QStringList{QStringLiteral("gpu-libs"), QStringLiteral("gpu-settings")} << QStringList();
        QTest::newRow("install") << QStringList{QStringLiteral("new-driver")} << false << QString() << QStringList()
                                 << QStringList{QStringLiteral("gpu-driver"), QStringLiteral("gpu-libs")} << QStringList{QStringLiteral("new-driver")};
        const QStringList nothingMarked{QStringLiteral("gpu-driver"), QStringLiteral("gpu-libs"), QStringLiteral("new-driver")};
        QTest::newRow("unknown after known, install") << QStringList{QStringLiteral("new-driver"), QStringLiteral("nope")} << false
                                                      << QStringLiteral("Cannot find package nope") << QStringList() << nothingMarked << QStringList();
        QTest::newRow("unknown before known, remove") << QStringList{QStringLiteral("nope"), QStringLiteral("gpu-driver")} << true
                                                      << QStringLiteral("Cannot find package nope") << QStringList() << nothingMarked << QStringList();
        QTest::newRow("first unknown named") << QStringList{QStringLiteral("gpu-driver"), QStringLiteral("ghost-1"), QStringLiteral("ghost-2")} << true
                                             << QStringLiteral("Cannot find package ghost-1") << QStringList() << nothingMarked << QStringList();
    }
    void marks()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, remove);
        QFETCH(QString, error);
        QFETCH(QStringList, purged);
        QFETCH(QStringList, untouched);
        QFETCH(QStringList, installed);
        QApt::Backend backend;
        QVERIFY2(backend.init(), qPrintable(backend.initErrorMessage()));
        QCOMPARE(PackageMarks::mark(&backend, names, remove), error);
        for (const QString &name : purged) {
            QVERIFY2(backend.package(name)->state() & QApt::Package::ToPurge, qPrintable(name));
        }
        for (const QString &name : untouched) {
            QVERIFY2(!(backend.package(name)->state() & (QApt::Package::ToPurge | QApt::Package::ToRemove | QApt::Package::ToInstall)), qPrintable(name));
        }
        for (const QString &name : installed) {
            QVERIFY2(backend.package(name)->state() & QApt::Package::ToInstall, qPrintable(name));
        }
        if (!error.isEmpty()) {
            QVERIFY(backend.markedPackages().isEmpty());
        }
    }

    void slotRefusals_data()
    {
        QTest::addColumn<bool>("remove");
        QTest::addColumn<QVariantMap>("args");
        QTest::addColumn<QString>("reply");
        const QString noInstall = QStringLiteral("Didn't receive any drivers for installation");
        const QString noRemove = QStringLiteral("Didn't receive any drivers for removal");
        QTest::newRow("install, empty map") << false << QVariantMap() << noInstall;
        QTest::newRow("remove, empty map") << true << QVariantMap() << noRemove;
        QTest::newRow("install, empty list") << false << QVariantMap{{QStringLiteral("drivers"), QStringList()}} << noInstall;
        QTest::newRow("remove, number") << true << QVariantMap{{QStringLiteral("drivers"), 5}} << noRemove;
        QTest::newRow("install, map") << false << QVariantMap{{QStringLiteral("drivers"), QVariantMap{{QStringLiteral("a"), 1}}}} << noInstall;
        QTest::newRow("install, unknown after known") << false
                                                      << QVariantMap{{QStringLiteral("drivers"),
                                                                      QStringList{QStringLiteral("new-driver"), QStringLiteral("nope")}}}
                                                      << QStringLiteral("Cannot find package nope");
        QTest::newRow("remove, unknown first") << true
                                               << QVariantMap{{QStringLiteral("drivers"), QStringList{QStringLiteral("nope"), QStringLiteral("gpu-driver")}}}
                                               << QStringLiteral("Cannot find package nope");
        QTest::newRow("remove, NUL in name") << true << QVariantMap{{QStringLiteral("drivers"), QStringList{QString(QStringLiteral("gpu-driver") + QChar(0))}}}
                                             << QString(QStringLiteral("Cannot find package gpu-driver") + QChar(0));
        const QString huge(100000, QLatin1Char('x'));
        QTest::newRow("install, huge name") << false << QVariantMap{{QStringLiteral("drivers"), QStringList{huge}}}
                                            << QStringLiteral("Cannot find package ") + huge;
    }
    void slotRefusals()
    {
        QFETCH(bool, remove);
        QFETCH(QVariantMap, args);
        QFETCH(QString, reply);
        DriverSwitchHelper helper;
        QCOMPARE(replyText(remove ? helper.remove(args) : helper.install(args)), reply);
    }

    void databaseCannotBeOpened()
    {
        // A status file APT cannot parse makes QApt's init() fail without a text of its own;
        // the helper then names the problem itself.
        const QString config = prepareUniverse(m_fixture, QByteArray("Package: gpu-driver\nStatus: install ok installed\nVersion: 1.0\nDepends: (((\n"));
        qputenv("APT_CONFIG", QFile::encodeName(config));
        const QString expected = QStringLiteral("Cannot open the package database");
        DriverSwitchHelper helper;
        QCOMPARE(replyText(helper.install({{QStringLiteral("drivers"), QStringList{QStringLiteral("new-driver")}}})), expected);
        QCOMPARE(replyText(helper.remove({{QStringLiteral("drivers"), QStringList{QStringLiteral("gpu-driver")}}})), expected);
    }
};

HARNESS_TEST_MAIN(HelperPackagesTest, QByteArrayLiteral(KAUTH_HARNESS_DIR "/kauth-fixture-ns.sh"))
#include "helperpackagestest.moc"
