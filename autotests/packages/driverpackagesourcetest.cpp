// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The driver package source read from real inputs: a fixture APT universe with Debian's
// package names (harness/apt-fixture.sh, debian-bookworm.txt) through QApt, a DEP-11 catalogue
// through AppStreamQt, and nvidia-detect id lists.
#include "driverpackagesource.h"

#include <QApt/Backend>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace
{
const QString rtx3060 = "pci:v000010DEd00002504sv00001462sd0000397Dbc03sc00i00";
const QString fermi = "pci:v000010DEd00001200sv00001043sd00008370bc03sc00i00";
const QString amd = "pci:v00001002d0000731Fsv00001458sd00002313bc03sc00i00";
const QString intel = "pci:v00008086d00005917sv00001043sd00001A00bc03sc00i00";
}

class DriverPackageSourceTest : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_scratch;

    // A universe with the given components; empty: one main list holding everything.
    // viaCache: read by loadFromCache() rather than through a backend.
    DriverPackages::Snapshot snapshotOf(const QString &components, bool withIdLists, bool viaCache = false)
    {
        const QString dir = m_scratch.filePath(components.isEmpty() ? "all-in-main" : QString(components).replace(' ', '-'));
        if (!QFileInfo::exists(dir + "/apt.conf")) {
            QDir().mkpath(dir);
            QProcess process;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("APT_FIXTURE_TABLE", QFINDTESTDATA("../fixtures/apt/debian-bookworm.txt"));
            env.insert("APT_FIXTURE_COMPONENTS", components);
            const bool firmware = components.isEmpty() || components.contains("non-free-firmware");
            env.insert("APT_FIXTURE_INSTALLED", firmware ? "firmware-amd-graphics linux-image-6.1.0-18-amd64" : "linux-image-6.1.0-18-amd64");
            process.setProcessEnvironment(env);
            process.start("/bin/bash", {QFINDTESTDATA("../harness/apt-fixture.sh"), dir});
            if (!process.waitForFinished(60000) || process.exitCode() != 0) {
                qWarning() << process.readAllStandardError();
                return {};
            }
        }
        qputenv("APT_CONFIG", QFile::encodeName(dir + "/apt.conf"));
        DriverPackages::Locations locations;
        locations.idListDir = withIdLists ? QFINDTESTDATA("../fixtures/drivers/nvidia") : m_scratch.filePath("no-lists");
        locations.appStreamDirs = QStringList{QFINDTESTDATA("../fixtures/drivers/swcatalog")};
        locations.appStreamCacheDir = m_scratch.filePath("swcatalog-cache");
        if (viaCache) {
            DriverPackages::Snapshot snapshot;
            QString error;
            if (!DriverPackages::loadFromCache(snapshot, locations, &error)) {
                qWarning() << error;
            }
            return snapshot;
        }
        QApt::Backend backend;
        if (!backend.init()) {
            qWarning() << backend.initErrorMessage();
            return {};
        }
        return DriverPackages::load(backend, locations);
    }

private Q_SLOTS:
    void compatible_data()
    {
        QTest::addColumn<QString>("components");
        QTest::addColumn<bool>("idLists");
        QTest::addColumn<QString>("modalias");
        QTest::addColumn<QStringList>("expected");
        const QString all = "main contrib non-free non-free-firmware";
        QTest::newRow("amd: AppStream firmware and a Modaliases field")
            << all << true << amd << QStringList{"firmware-amd-graphics (installed)", "xserver-xorg-video-amdgpu"};
        QTest::newRow("rtx 3060: firmware and the listed drivers")
            << all << true << rtx3060 << QStringList{"firmware-misc-nonfree", "nvidia-driver", "nvidia-tesla-470-driver"};
        QTest::newRow("rtx 3060 without nvidia-detect, nothing judged") << all << false << rtx3060 << QStringList{"firmware-misc-nonfree"};
        QTest::newRow("fermi: nouveau firmware only") << all << true << fermi << QStringList{"firmware-misc-nonfree"};
        QTest::newRow("intel") << all << true << intel << QStringList{"firmware-misc-nonfree"};
        QTest::newRow("main only: no firmware, no nvidia") << "main" << true << rtx3060 << QStringList{};
        QTest::newRow("one list for everything") << QString() << true << amd << QStringList{"firmware-amd-graphics (installed)", "xserver-xorg-video-amdgpu"};
    }
    void compatible()
    {
        QFETCH(QString, components);
        QFETCH(bool, idLists);
        QFETCH(QString, modalias);
        QFETCH(QStringList, expected);
        const DriverPackages::Snapshot snapshot = snapshotOf(components, idLists);
        QVERIFY(!snapshot.packages.isEmpty());
        QStringList seen;
        for (const DriverPackages::Match &m : DriverPackages::compatiblePackages(snapshot, modalias)) {
            seen << (m.installed ? m.name + " (installed)" : m.name);
        }
        seen.sort(); // the cache's order is APT's business
        QCOMPARE(seen, expected);
        // Only driver-relevant packages are read: never dkms or the headers.
        QVERIFY(!snapshot.find("dkms"));
        QVERIFY(!snapshot.find("linux-headers-amd64"));

        // Read from APT's cache directly, the snapshot holds the same packages with the same facts.
        const DriverPackages::Snapshot direct = snapshotOf(components, idLists, true);
        const auto facts = [](const DriverPackages::Snapshot &s) {
            QStringList lines;
            for (const DriverPackages::PackageInfo &p : s.packages) {
                lines << QStringList{p.name,
                                     p.candidateVersion,
                                     p.installedVersion,
                                     p.shortDescription,
                                     p.modaliases,
                                     p.dependsFirst.join(','),
                                     p.dependsAll.join(',')}
                             .join('|');
            }
            return lines;
        };
        QCOMPARE(facts(direct), facts(snapshot));
        QCOMPARE(direct.cacheOrder, snapshot.cacheOrder);
        QCOMPARE(direct.components, snapshot.components);
    }

    void componentsOfTheSources_data()
    {
        QTest::addColumn<QString>("components");
        QTest::addColumn<QString>("missing");
        QTest::newRow("all four") << "main contrib non-free non-free-firmware" << QString();
        QTest::newRow("main only") << "main"
                                   << "contrib, non-free, non-free-firmware";
    }
    void componentsOfTheSources()
    {
        QFETCH(QString, components);
        QFETCH(QString, missing);
        const DriverPackages::Snapshot snapshot = snapshotOf(components, true);
        QVERIFY(snapshot.componentsKnown);
        const QString note = DriverPackages::missingComponentsNote(snapshot);
        QCOMPARE(note.isEmpty(), missing.isEmpty());
        QVERIFY2(note.contains(missing), qPrintable(note));
    }
};

QTEST_GUILESS_MAIN(DriverPackageSourceTest)
#include "driverpackagesourcetest.moc"
