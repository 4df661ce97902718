// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The driver package source on snapshots written here with Debian's real package names and
// versions: alias matching, the NVIDIA catalogue and its recommendation, the remover's in-use
// rule, the kernel headers, and the Secure Boot query against a mokutil stub.
#include "driverpackages.h"
#include "nvidiadrivermodel.h"
#include "secureboot.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(DriverPackages::Snapshot)
Q_DECLARE_METATYPE(NvidiaDriver)

using namespace DriverPackages;

namespace
{
const QString rtx3060 = "pci:v000010DEd00002504sv00001462sd0000397Dbc03sc00i00";
const QString kepler = "pci:v000010DEd00001187sv00001043sd00008463bc03sc00i00";
const QString fermi = "pci:v000010DEd00001200sv00001043sd00008370bc03sc00i00";
const QString newer = "pci:v000010DEd00002B85sv000010DEsd00002057bc03sc00i00";
const QString amd = "pci:v00001002d0000731Fsv00001458sd00002313bc03sc00i00";

PackageInfo
pkg(const QString &name, const QString &candidate, const QString &installed = QString(), const QStringList &depends = {}, const QString &modaliases = QString())
{
    PackageInfo p;
    p.name = name;
    p.candidateVersion = candidate;
    p.installedVersion = installed;
    p.dependsFirst = depends;
    p.dependsAll = depends;
    p.modaliases = modaliases;
    p.shortDescription = "NVIDIA driver";
    return p;
}

void sortPackages(Snapshot &s)
{
    std::sort(s.packages.begin(), s.packages.end(), [](const PackageInfo &a, const PackageInfo &b) {
        return a.name < b.name;
    });
}

// Debian 12 with security updates: driver 535.309.01, the open modules still 535.261.03.
Snapshot bookworm(const QString &openVersion = "535.261.03-1", bool withLists = true)
{
    Snapshot s;
    s.componentsKnown = true;
    s.components = {"main", "contrib", "non-free", "non-free-firmware"};
    s.packages = {
        pkg("nvidia-driver", "535.309.01-0+deb12u1", QString(), {"nvidia-driver-libs", "nvidia-driver-bin", "nvidia-kernel-dkms"}),
        pkg("nvidia-driver-bin", "535.309.01-0+deb12u1"),
        pkg("nvidia-driver-libs", "535.309.01-0+deb12u1"),
        pkg("nvidia-driver-full", "535.309.01-0+deb12u1"),
        pkg("nvidia-kernel-dkms", "535.309.01-0+deb12u1", QString(), {"dkms"}),
        pkg("nvidia-open-kernel-dkms", openVersion, QString(), {"dkms"}),
        pkg("nvidia-opencl-icd", "535.309.01-0+deb12u1"),
        pkg("nvidia-tesla-470-driver", "470.256.02-1~deb12u1", QString(), {"nvidia-tesla-470-kernel-dkms"}),
        pkg("nvidia-tesla-535-driver", "535.216.03-3~deb12u1", QString(), {"nvidia-tesla-535-kernel-dkms"}),
        pkg("firmware-misc-nonfree", "20230210-5"),
        pkg("firmware-amd-graphics", "20230210-5", "20230210-5"),
    };
    sortPackages(s);
    s.appstream = {
        {{"firmware-amd-graphics"}, {"pci:v00001002d*sv*sd*bc03sc00i00*", "pci:v00001002d*sv*sd*bc03sc80i00*"}},
        {{"firmware-misc-nonfree"}, {"pci:v000010DEd*sv*sd*bc03sc*i*"}},
    };
    if (withLists) {
        s.idLists.present = true;
        s.idLists.lists = {
            {"nvidia", {"10DE2504", "10DE1C03"}},
            {"nvidia-tesla-535", {"10DE2504", "10DE1C03"}},
            {"nvidia-tesla-470", {"10DE2504", "10DE1C03", "10DE1187"}},
            {"nvidia-open", {"10DE2504"}},
            {"nvidia-legacy-390xx", {"10DE1200"}},
        };
    }
    return s;
}

// name:flags with S supported, R recommended, I installed, then the type P/O/N.
QStringList describe(const QList<NvidiaDriver> &drivers)
{
    QStringList out;
    for (const NvidiaDriver &d : drivers) {
        QString flags;
        flags += d.supported ? "S" : "";
        flags += d.recommended ? "R" : "";
        flags += d.installed ? "I" : "";
        flags += d.type == NvidiaDriverType::Proprietary ? "P" : d.type == NvidiaDriverType::Open ? "O" : d.type == NvidiaDriverType::NoDkms ? "N" : "?";
        out << d.name + ":" + flags + (d.companions.isEmpty() ? QString() : "+" + d.companions.join("+"));
    }
    out.sort();
    return out;
}

NvidiaDriver drv(const QString &name, const QString &version, NvidiaDriverType type, bool supported, bool recommended = false, bool installed = false)
{
    NvidiaDriver d;
    d.name = name;
    d.version = QVersionNumber::fromString(version);
    d.type = type;
    d.supported = supported;
    d.recommended = recommended;
    d.installed = installed;
    return d;
}
}

class DriverPackagesTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void globMatching_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("modalias");
        QTest::addColumn<bool>("expected");
        QTest::newRow("amd firmware pattern, amd adapter") << "pci:v00001002d*sv*sd*bc03sc00i00*" << amd << true;
        QTest::newRow("amd firmware pattern, nvidia adapter") << "pci:v00001002d*sv*sd*bc03sc00i00*" << rtx3060 << false;
        QTest::newRow("star matches nothing at the end") << "pci:v000010DEd*sv*sd*bc03sc*i00*" << rtx3060 << true;
        QTest::newRow("whole alias, no trailing star") << "pci:v000010DEd00002504" << rtx3060 << false;
        QTest::newRow("question mark and class") << "pci:v000010DEd0000250?sv*sd*bc03sc[0-2]*" << rtx3060 << true;
        QTest::newRow("empty pattern") << "" << rtx3060 << false;
        QTest::newRow("upper-case ids are literal") << "pci:v000010ded*" << rtx3060 << false;
    }
    void globMatching()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, modalias);
        QFETCH(bool, expected);
        QCOMPARE(globMatches(pattern, modalias), expected);
    }

    void idLists_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("expected");
        QTest::newRow("plain line") << QByteArray("10DE2504\n10DE2503\n") << "10DE2504" << true;
        QTest::newRow("last line without newline") << QByteArray("10DE2503\n10DE2504") << "10DE2504" << true;
        QTest::newRow("crlf and blanks") << QByteArray(" 10DE2504 \r\n\r\n") << "10DE2504" << true;
        QTest::newRow("lower case in file") << QByteArray("10de2504\n") << "10DE2504" << true;
        QTest::newRow("other id") << QByteArray("10DE25040\n") << "10DE2504" << false;
        QTest::newRow("empty file") << QByteArray() << "10DE2504" << false;
        // A damaged line of NUL bytes once read as an empty id.
        QTest::newRow("line of NUL bytes") << QByteArray("10DE2504\n\0\0\0\n", 13) << QString() << false;
    }
    void idLists()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, id);
        QFETCH(bool, expected);
        QCOMPARE(NvidiaIdLists::parse(text).contains(id), expected);
    }

    void idListFolder()
    {
        QTemporaryDir dir;
        const auto write = [&](const QString &name, const QByteArray &text) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(text);
        };
        write("nvidia.ids", "10DE2504\n");
        write("nvidia-tesla-470.ids", "10DE2504\n10DE1187\n");
        write("README", "10DE2504\n");
        const NvidiaIdLists lists = NvidiaIdLists::read(dir.path());
        QVERIFY(lists.present);
        QCOMPARE(lists.listsNaming("10DE2504"), QStringList({"nvidia", "nvidia-tesla-470"}));
        QCOMPARE(lists.listsNaming("10DE1187"), QStringList({"nvidia-tesla-470"}));
        QVERIFY(!NvidiaIdLists::read(dir.filePath("missing")).present);
    }

    void catalogue_data()
    {
        QTest::addColumn<Snapshot>("snapshot");
        QTest::addColumn<QString>("modalias");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("note"); // a word the one note holds, empty for no note

        QTest::newRow("rtx 3060, open modules of another version")
            << bookworm() << rtx3060 << QStringList{"nvidia-driver:SRP", "nvidia-tesla-470-driver:SP", "nvidia-tesla-535-driver:SP"} << QString();
        QTest::newRow("rtx 3060, open modules of the driver's version")
            << bookworm("535.309.01-0+deb12u1") << rtx3060
            << QStringList{"nvidia-driver:SRP", "nvidia-open-kernel-dkms:O+nvidia-driver", "nvidia-tesla-470-driver:SP", "nvidia-tesla-535-driver:SP"}
            << QString();
        QTest::newRow("kepler only in tesla-470") << bookworm() << kepler << QStringList{"nvidia-tesla-470-driver:SRP"} << QString();
        QTest::newRow("fermi only in a legacy list") << bookworm() << fermi << QStringList{} << "legacy-390xx";
        QTest::newRow("adapter newer than every list") << bookworm() << newer << QStringList{} << "none of";
        QTest::newRow("without nvidia-detect") << bookworm("535.309.01-0+deb12u1", false) << rtx3060
                                               << QStringList{"nvidia-driver:RP", "nvidia-tesla-470-driver:P", "nvidia-tesla-535-driver:P"} << "nvidia-detect";

        Snapshot named;
        named.packages = {
            pkg("nvidia-driver-550", "550.54.14-0ubuntu1", QString(), {}, "nvidia(pci:v000010DEd00002504sv*sd*bc03sc*i*)"),
            pkg("nvidia-driver-550-open", "550.54.14-0ubuntu1", QString(), {}, "nvidia(pci:v000010DEd00002504sv*sd*bc03sc*i*)"),
            pkg("nvidia-driver-535", "535.183.01-0ubuntu1", "535.183.01-0ubuntu1", {}, "nvidia(pci:v000010DEd00001C03sv*sd*bc03sc*i*)"),
            pkg("nvidia-driver-470-no-dkms", "470.256.02-0ubuntu1", QString(), {}, "nvidia(pci:v000010DEd00002504sv*sd*bc03sc*i*)"),
            pkg("nvidia-driver-libs-550", "550.54.14-0ubuntu1"),
        };
        named.packages[1].shortDescription = "NVIDIA driver (open kernel modules)";
        sortPackages(named);
        named.idLists.present = true;
        QTest::newRow("names with nvidia-driver- and a Modaliases field")
            << named << rtx3060 << QStringList{"nvidia-driver-470-no-dkms:N", "nvidia-driver-535:IP", "nvidia-driver-550-open:O", "nvidia-driver-550:SRP"}
            << "none of";
        Snapshot transitional = named;
        transitional.packages[2].shortDescription = "Transitional package for nvidia-driver-550"; // nvidia-driver-550
        QTest::newRow("transitional package, nothing supported")
            << transitional << rtx3060 << QStringList{"nvidia-driver-470-no-dkms:N", "nvidia-driver-535:IP", "nvidia-driver-550-open:RO"} << "none of";
    }
    void catalogue()
    {
        QFETCH(Snapshot, snapshot);
        QFETCH(QString, modalias);
        QFETCH(QStringList, expected);
        QFETCH(QString, note);
        const Catalogue catalogue = nvidiaCatalogue(snapshot, modalias);
        QCOMPARE(describe(catalogue.drivers), expected);
        if (note.isEmpty()) {
            QVERIFY2(catalogue.notes.isEmpty(), qPrintable(catalogue.notes.join("|")));
        } else {
            QCOMPARE(catalogue.notes.size(), 1);
            QVERIFY2(catalogue.notes.first().contains(note), qPrintable(catalogue.notes.first()));
        }
    }

    void recommendation_data()
    {
        QTest::addColumn<QList<NvidiaDriver>>("drivers");
        QTest::addColumn<int>("recommended"); // -1: none
        const auto P = NvidiaDriverType::Proprietary;
        QTest::newRow("empty list") << QList<NvidiaDriver>{} << -1;
        QTest::newRow("none supported, highest version") << QList<NvidiaDriver>{drv("a", "470.256.2", P, false), drv("b", "535.183.1", P, false)} << 1;
        QTest::newRow("supported beats a higher unsupported") << QList<NvidiaDriver>{drv("a", "550.54.14", P, false), drv("b", "470.256.2", P, true)} << 1;
        QTest::newRow("equal in both, earlier wins") << QList<NvidiaDriver>{drv("a", "535.183.1", P, true), drv("b", "535.183.1", P, true)} << 0;
        QTest::newRow("numeric segments") << QList<NvidiaDriver>{drv("a", "535.9", P, true), drv("b", "535.10", P, true)} << 1;
    }
    void recommendation()
    {
        QFETCH(QList<NvidiaDriver>, drivers);
        QFETCH(int, recommended);
        markRecommendedDriver(drivers);
        for (int i = 0; i < drivers.size(); ++i) {
            QCOMPARE(drivers.at(i).recommended, i == recommended);
        }
    }

    void priorityOrder_data()
    {
        QTest::addColumn<QList<NvidiaDriver>>("drivers");
        QTest::addColumn<QStringList>("order");
        const auto P = NvidiaDriverType::Proprietary, O = NvidiaDriverType::Open, N = NvidiaDriverType::NoDkms;
        QTest::newRow("empty") << QList<NvidiaDriver>{} << QStringList{};
        QTest::newRow("installed unsupported before recommended")
            << QList<NvidiaDriver>{drv("rec", "550.54.14", P, true, true), drv("inst", "470.256.2", P, false, false, true)} << QStringList{"inst", "rec"};
        QTest::newRow("recommended before supported") << QList<NvidiaDriver>{drv("sup", "550.54.14", P, true), drv("rec", "535.183.1", P, true, true)}
                                                      << QStringList{"rec", "sup"};
        QTest::newRow("versions by segment") << QList<NvidiaDriver>{drv("535.9", "535.9", P, false),
                                                                    drv("535.10", "535.10", P, false),
                                                                    drv("550", "550.54.14", P, false)}
                                             << QStringList{"550", "535.10", "535.9"};
        QTest::newRow("type before version") << QList<NvidiaDriver>{drv("nodkms", "550.54.14", N, false),
                                                                    drv("open", "550.54.14", O, false),
                                                                    drv("prop", "470.256.2", P, false)}
                                             << QStringList{"prop", "open", "nodkms"};
    }
    void priorityOrder()
    {
        QFETCH(QList<NvidiaDriver>, drivers);
        QFETCH(QStringList, order);
        NvidiaDriverModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setDrivers(drivers);
        model.sortNvidiaDriversByPriority();
        QStringList names;
        for (const NvidiaDriver &d : model.drivers()) {
            names << d.name;
        }
        QCOMPARE(names, order);
        QCOMPARE(model.rowCount(), order.size());
    }

    void modelTexts_data()
    {
        QTest::addColumn<NvidiaDriver>("driver");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("toolTipStart");
        const auto P = NvidiaDriverType::Proprietary, O = NvidiaDriverType::Open;
        QTest::newRow("plain") << drv("nvidia-tesla-470-driver", "470.256.2", P, false) << "nvidia-tesla-470-driver"
                               << "470.256.2 (Not installed)\nA proprietary NVIDIA graphics driver.\nThe manufacturer";
        QTest::newRow("recommended and installed") << drv("nvidia-driver", "535.309.1", P, true, true, true) << "nvidia-driver (Recommended, Installed)"
                                                   << "535.309.1 (Installed)\nThe video card manufacturer (NVIDIA) recommends";
        QTest::newRow("unsupported open") << drv("nvidia-open-kernel-dkms", "535.309.1", O, false) << "nvidia-open-kernel-dkms"
                                          << "535.309.1 (Not installed)\nOpen source NVIDIA graphics driver.";
        QTest::newRow("version that does not parse") << drv("nvidia-driver", "unknown", P, true) << "nvidia-driver"
                                                     << " (Not installed)\nA proprietary NVIDIA graphics driver.\nThis driver has official support";
    }
    void modelTexts()
    {
        QFETCH(NvidiaDriver, driver);
        QFETCH(QString, display);
        QFETCH(QString, toolTipStart);
        NvidiaDriverModel model;
        model.setDrivers({driver});
        const QModelIndex index = model.index(0);
        QCOMPARE(model.data(index, Qt::DisplayRole).toString(), display);
        const QString toolTip = model.data(index, Qt::ToolTipRole).toString();
        QVERIFY2(toolTip.startsWith(toolTipStart), qPrintable(toolTip));
        QVERIFY(!model.data(model.index(1), Qt::DisplayRole).isValid());
        QVERIFY(!model.data(index, Qt::DecorationRole).isValid());
    }

    void compatible_data()
    {
        QTest::addColumn<Snapshot>("snapshot");
        QTest::addColumn<QString>("modalias");
        QTest::addColumn<QStringList>("expected");
        Snapshot s = bookworm();
        QTest::newRow("amd adapter: firmware from AppStream") << s << amd << QStringList{"firmware-amd-graphics (installed)"};
        QTest::newRow("rtx 3060: firmware and the supported drivers")
            << s << rtx3060 << QStringList{"firmware-misc-nonfree", "nvidia-driver", "nvidia-tesla-470-driver", "nvidia-tesla-535-driver"};
        QTest::newRow("fermi: only the nouveau firmware") << s << fermi << QStringList{"firmware-misc-nonfree"};
        Snapshot both = s;
        both.packages.append(pkg("xserver-xorg-video-amdgpu", "23.0.0-1", QString(), {}, "amdgpu(pci:v00001002d*sv*sd*bc03sc*i*)"));
        both.packages.append(pkg("zz-amd-tools", "1.0-1", QString(), {}, "amd(pci:v00001002d*sv*sd*bc03sc*i*)"));
        sortPackages(both);
        both.appstream.append({{"zz-amd-tools", "not-in-this-archive"}, {"pci:v00001002d*"}});
        QTest::newRow("field and AppStream name a package once")
            << both << amd << QStringList{"firmware-amd-graphics (installed)", "xserver-xorg-video-amdgpu", "zz-amd-tools"};
    }
    void compatible()
    {
        QFETCH(Snapshot, snapshot);
        QFETCH(QString, modalias);
        QFETCH(QStringList, expected);
        QStringList seen;
        for (const Match &m : compatiblePackages(snapshot, modalias)) {
            seen << (m.installed ? m.name + " (installed)" : m.name);
        }
        QCOMPARE(seen, expected);
    }

    // Why each package is listed: "name:" then F (Modaliases field), A (AppStream), R
    // (recommended) and the id lists that name the adapter for it.
    void matchReasons_data()
    {
        QTest::addColumn<Snapshot>("snapshot");
        QTest::addColumn<QString>("modalias");
        QTest::addColumn<QStringList>("expected");
        const Snapshot s = bookworm();
        QTest::newRow("amd adapter") << s << amd << QStringList{"firmware-amd-graphics:A"};
        QTest::newRow("rtx 3060, open modules of another version") << s << rtx3060
                                                                   << QStringList{"firmware-misc-nonfree:A",
                                                                                  "nvidia-driver:R nvidia",
                                                                                  "nvidia-tesla-470-driver: nvidia-tesla-470",
                                                                                  "nvidia-tesla-535-driver: nvidia-tesla-535"};
        QTest::newRow("rtx 3060, open modules of the driver's version") << bookworm("535.309.01-0+deb12u1") << rtx3060
                                                                        << QStringList{"firmware-misc-nonfree:A",
                                                                                       "nvidia-driver:R nvidia",
                                                                                       "nvidia-open-kernel-dkms: nvidia-open",
                                                                                       "nvidia-tesla-470-driver: nvidia-tesla-470",
                                                                                       "nvidia-tesla-535-driver: nvidia-tesla-535"};
        QTest::newRow("kepler: one list") << s << kepler << QStringList{"firmware-misc-nonfree:A", "nvidia-tesla-470-driver:R nvidia-tesla-470"};
        // Without the lists nothing is judged: no driver is offered, none recommended.
        QTest::newRow("rtx 3060 without id lists") << bookworm("535.261.03-1", false) << rtx3060 << QStringList{"firmware-misc-nonfree:A"};
        Snapshot both = s;
        both.packages.append(pkg("zz-amd-tools", "1.0-1", QString(), {}, "amd(pci:v00001002d*sv*sd*bc03sc*i*)"));
        sortPackages(both);
        both.appstream.append({{"zz-amd-tools"}, {"pci:v00001002d*"}});
        QTest::newRow("field and AppStream") << both << amd << QStringList{"firmware-amd-graphics:A", "zz-amd-tools:FA"};
        // A driver package whose own field matches, and which the id list names too.
        Snapshot field = s;
        for (PackageInfo &p : field.packages) {
            if (p.name == "nvidia-tesla-470-driver") {
                p.modaliases = "nvidia(pci:v000010DEd00001187sv*sd*bc03sc*i*)";
            }
        }
        QTest::newRow("field and id list") << field << kepler << QStringList{"firmware-misc-nonfree:A", "nvidia-tesla-470-driver:FR nvidia-tesla-470"};
    }
    void matchReasons()
    {
        QFETCH(Snapshot, snapshot);
        QFETCH(QString, modalias);
        QFETCH(QStringList, expected);
        QStringList seen;
        for (const Match &m : compatiblePackages(snapshot, modalias)) {
            const QString flags = QString(m.byModaliasesField ? "F" : "") + (m.byAppStream ? "A" : "") + (m.recommended ? "R" : "");
            seen << m.name + ":" + flags + (m.nvidiaIdLists.isEmpty() ? QString() : " " + m.nvidiaIdLists.join(","));
        }
        seen.sort();
        QCOMPARE(seen, expected);
    }

    void kernelHeaderChoice_data()
    {
        QTest::addColumn<QString>("release");
        QTest::addColumn<QStringList>("archive"); // name=candidate[/installed]
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("release's own package") << "6.1.0-18-amd64" << QStringList{"linux-headers-6.1.0-18-amd64=6.1.76-1", "linux-headers-amd64=6.1.76-1"}
                                               << QStringList{"linux-headers-6.1.0-18-amd64"};
        QTest::newRow("only the flavour meta package") << "6.1.0-17-amd64" << QStringList{"linux-headers-amd64=6.1.76-1"} << QStringList{"linux-headers-amd64"};
        QTest::newRow("trixie release name") << "6.12.38+deb13-amd64" << QStringList{"linux-headers-amd64=6.12.38-1"} << QStringList{"linux-headers-amd64"};
        QTest::newRow("rt flavour") << "6.1.0-18-rt-amd64" << QStringList{"linux-headers-rt-amd64=6.1.76-1"} << QStringList{"linux-headers-rt-amd64"};
        QTest::newRow("already installed") << "6.1.0-18-amd64" << QStringList{"linux-headers-6.1.0-18-amd64=6.1.76-1/6.1.76-1"} << QStringList{};
        QTest::newRow("not in the archive") << "6.1.0-18-amd64" << QStringList{} << QStringList{};
        QTest::newRow("self-built kernel") << "6.7.0" << QStringList{"linux-headers-amd64=6.1.76-1"} << QStringList{};
    }
    void kernelHeaderChoice()
    {
        QFETCH(QString, release);
        QFETCH(QStringList, archive);
        QFETCH(QStringList, expected);
        Snapshot s;
        for (const QString &entry : archive) {
            const QString name = entry.section('=', 0, 0);
            const QString versions = entry.section('=', 1);
            s.packages.append(pkg(name, versions.section('/', 0, 0), versions.section('/', 1)));
        }
        sortPackages(s);
        QCOMPARE(kernelHeaders(release,
                               [&](const QString &name) {
                                   return s.find(name);
                               }),
                 expected);
    }

    void inUse_data()
    {
        QTest::addColumn<QString>("modulePath");
        QTest::addColumn<QStringList>("dpkgRecords"); // path=package
        QTest::addColumn<QStringList>("sources"); // folders below the source root
        QTest::addColumn<QStringList>("inUse");
        QTest::addColumn<QStringList>("offered");
        const QString release = "/usr/lib/modules/6.1.0-18-amd64";
        QTest::newRow("nouveau recorded under /lib")
            << release + "/kernel/drivers/gpu/drm/nouveau/nouveau.ko"
            << QStringList{"/lib/modules/6.1.0-18-amd64/kernel/drivers/gpu/drm/nouveau/nouveau.ko=linux-image-6.1.0-18-amd64"} << QStringList{}
            << QStringList{"linux-image-6.1.0-18-amd64"} << QStringList{"firmware-amd-graphics", "nvidia-driver", "nvidia-tesla-470-driver"};
        QTest::newRow("dkms module through its source folder")
            << release + "/updates/dkms/nvidia-current.ko" << QStringList{"/usr/src/nvidia-current-535.309.01=nvidia-kernel-dkms"}
            << QStringList{"nvidia-current-535.309.01", "nvidia-current-open-535.261.03"} << QStringList{"nvidia-kernel-dkms"}
            << QStringList{"firmware-amd-graphics", "nvidia-tesla-470-driver"};
        QTest::newRow("dkms modeset module, source of the base name")
            << "/lib/modules/6.1.0-18-amd64/updates/dkms/nvidia-current-modeset.ko.xz" << QStringList{"/usr/src/nvidia-current-535.309.01=nvidia-kernel-dkms"}
            << QStringList{"nvidia-current-535.309.01"} << QStringList{"nvidia-kernel-dkms"} << QStringList{"firmware-amd-graphics", "nvidia-tesla-470-driver"};
        QTest::newRow("dkms module without a known source") << release + "/updates/dkms/nvidia-current.ko" << QStringList{} << QStringList{}
                                                            << QStringList{"nvidia-driver", "nvidia-tesla-470-driver"} << QStringList{"firmware-amd-graphics"};
        QTest::newRow("no module path") << QString() << QStringList{} << QStringList{} << QStringList{}
                                        << QStringList{"firmware-amd-graphics", "nvidia-driver", "nvidia-tesla-470-driver"};
    }
    void inUse()
    {
        QFETCH(QString, modulePath);
        QFETCH(QStringList, dpkgRecords);
        QFETCH(QStringList, sources);
        QFETCH(QStringList, inUse);
        QFETCH(QStringList, offered);
        QTemporaryDir root;
        QHash<QString, QString> owners;
        for (const QString &record : dpkgRecords) {
            QString path = record.section('=', 0, 0);
            path.replace("/usr/src", root.path());
            owners.insert(path, record.section('=', 1));
        }
        for (const QString &dir : sources) {
            QVERIFY(QDir(root.path()).mkpath(dir));
        }
        Snapshot s = bookworm();
        for (PackageInfo &p : s.packages) {
            if (p.name == "nvidia-driver" || p.name == "nvidia-kernel-dkms" || p.name == "nvidia-tesla-470-driver") {
                p.installedVersion = p.candidateVersion;
            }
        }
        const QSet<QString> found = packagesInUse(
            s,
            modulePath,
            [&](const QString &path) {
                return owners.value(path);
            },
            root.path());
        QStringList sorted(found.cbegin(), found.cend());
        sorted.sort();
        QCOMPARE(sorted, inUse);
        QCOMPARE(removalCandidates(s, found), offered);
    }

    void scopeNote_data()
    {
        QTest::addColumn<QStringList>("components");
        QTest::addColumn<QString>("missing");
        QTest::newRow("all four") << QStringList{"main", "contrib", "non-free", "non-free-firmware"} << QString();
        QTest::newRow("main only") << QStringList{"main"} << "contrib, non-free, non-free-firmware";
        QTest::newRow("firmware only") << QStringList{"main", "non-free-firmware"} << "contrib, non-free";
    }
    void scopeNote()
    {
        QFETCH(QStringList, components);
        QFETCH(QString, missing);
        Snapshot s;
        s.componentsKnown = true;
        s.components = QSet<QString>(components.cbegin(), components.cend());
        const QString note = missingComponentsNote(s);
        QCOMPARE(note.isEmpty(), missing.isEmpty());
        QVERIFY2(note.contains(missing), qPrintable(note));
    }

    void dkms_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("expected");
        QTest::newRow("nvidia-driver") << "nvidia-driver" << true;
        QTest::newRow("nvidia-open-kernel-dkms") << "nvidia-open-kernel-dkms" << true;
        QTest::newRow("nvidia-tesla-470-driver") << "nvidia-tesla-470-driver" << true;
        QTest::newRow("firmware-amd-graphics") << "firmware-amd-graphics" << false;
    }
    void dkms()
    {
        QFETCH(QString, name);
        QFETCH(bool, expected);
        const Snapshot s = bookworm();
        QCOMPARE(buildsWithDkms(*s.find(name)), expected);
    }

    void secureBoot_data()
    {
        QTest::addColumn<QString>("sbState"); // the stub's output for --sb-state
        QTest::addColumn<QString>("testKey"); // for --test-key
        QTest::addColumn<bool>("keyExists");
        QTest::addColumn<int>("expected");
        QTest::newRow("disabled") << "SecureBoot disabled"
                                  << "" << true << int(SecureBoot::State::Off);
        QTest::newRow("no efi") << "EFI variables are not supported on this system"
                                << "" << true << int(SecureBoot::State::Off);
        QTest::newRow("enabled, enrolled") << "SecureBoot enabled"
                                           << "/var/lib/dkms/mok.pub is already enrolled" << true << int(SecureBoot::State::KeyEnrolled);
        QTest::newRow("enabled, not enrolled") << "SecureBoot enabled"
                                               << "/var/lib/dkms/mok.pub is not enrolled" << true << int(SecureBoot::State::KeyNotEnrolled);
        QTest::newRow("enabled, no key yet") << "SecureBoot enabled"
                                             << "is already enrolled" << false << int(SecureBoot::State::KeyNotEnrolled);
    }
    void secureBoot()
    {
        QFETCH(QString, sbState);
        QFETCH(QString, testKey);
        QFETCH(bool, keyExists);
        QFETCH(int, expected);
        QTemporaryDir dir;
        const QString stub = dir.filePath("mokutil");
        QFile script(stub);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QString("#!/bin/sh\ncase \"$1\" in\n--sb-state) echo '%1' ;;\n--test-key) echo '%2'; exit 1 ;;\nesac\n").arg(sbState, testKey).toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString key = dir.filePath("mok.pub");
        if (keyExists) {
            QFile k(key);
            QVERIFY(k.open(QIODevice::WriteOnly));
        }
        QCOMPARE(int(SecureBoot::query(stub, key)), expected);
        QCOMPARE(SecureBoot::query(dir.filePath("no-mokutil"), key), SecureBoot::State::NoTool);
    }
};

QTEST_GUILESS_MAIN(DriverPackagesTest)
#include "driverpackagestest.moc"
