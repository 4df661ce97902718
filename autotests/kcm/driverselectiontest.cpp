// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "driverselection.h"
#include "device.h"

#include <QTest>

using Flags = QList<bool>;

namespace
{
Device adapter(const QString &vendor, const QString &name)
{
    Device device;
    device.setIdentityForTest(vendor, name, QString(), QString(), QString(), Unknown);
    return device;
}

Module module(const QString &name)
{
    return {name, name, QStringLiteral("/lib/modules/x/") + name + QStringLiteral(".ko")};
}
}

class DriverSelectionTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void matchesRenderer_data()
    {
        QTest::addColumn<QString>("vendor");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("renderer");
        QTest::addColumn<bool>("expected");

        QTest::newRow("intel mesa renderer") << QStringLiteral("Intel Corporation") << QStringLiteral("HD Graphics 630")
                                             << QStringLiteral("mesa intel(r) hd graphics 630 (kbl gt2)") << true;
        QTest::newRow("vendor word only") << QStringLiteral("NVIDIA Corporation") << QStringLiteral("GP107 [GeForce GTX 1050]")
                                          << QStringLiteral("nvidia geforce gtx 1050/pcie/sse2") << true;
        QTest::newRow("model word only, upper case") << QStringLiteral("Advanced Micro Devices, Inc. [AMD/ATI]") << QStringLiteral("Ellesmere RX 580")
                                                     << QStringLiteral("radeon rx 580 series") << true;
        QTest::newRow("software renderer") << QStringLiteral("Intel Corporation") << QStringLiteral("HD Graphics 630")
                                           << QStringLiteral("llvmpipe (llvm 15.0.6, 256 bits)") << false;
        QTest::newRow("nouveau code name differs") << QStringLiteral("NVIDIA Corporation") << QStringLiteral("GP107 [GeForce GTX 1050]")
                                                   << QStringLiteral("nv137") << false;
        QTest::newRow("no renderer") << QStringLiteral("Intel Corporation") << QStringLiteral("HD Graphics 630") << QString() << false;
        QTest::newRow("blank names never match") << QStringLiteral("   ") << QString() << QStringLiteral("llvmpipe") << false;
        QTest::newRow("runs of blanks") << QStringLiteral("Intel  Corporation") << QStringLiteral("  UHD   Graphics ") << QStringLiteral("llvmpipe") << false;
    }
    void matchesRenderer()
    {
        QFETCH(QString, vendor);
        QFETCH(QString, name);
        QFETCH(QString, renderer);
        QFETCH(bool, expected);
        QCOMPARE(DriverSelection::matchesRenderer(adapter(vendor, name), renderer), expected);
    }

    void markActiveAdapters_data()
    {
        QTest::addColumn<QStringList>("vendors");
        QTest::addColumn<Flags>("before");
        QTest::addColumn<QString>("renderer");
        QTest::addColumn<Flags>("expected");

        const QString intel = QStringLiteral("Intel Corporation");
        const QString nvidia = QStringLiteral("NVIDIA Corporation");
        QTest::newRow("none") << QStringList() << Flags() << QStringLiteral("llvmpipe") << Flags();
        QTest::newRow("lone adapter, software renderer") << QStringList{intel} << Flags{false} << QStringLiteral("llvmpipe") << Flags{true};
        QTest::newRow("lone adapter, no renderer") << QStringList{nvidia} << Flags{false} << QString() << Flags{true};
        QTest::newRow("second renders") << QStringList{intel, nvidia} << Flags{false, false} << QStringLiteral("NVIDIA GeForce GTX 1050/PCIe/SSE2")
                                        << Flags{false, true};
        QTest::newRow("first renders, mixed case") << QStringList{intel, nvidia} << Flags{false, true} << QStringLiteral("Mesa Intel(R) UHD Graphics")
                                                   << Flags{true, false};
        QTest::newRow("software renderer clears old marks")
            << QStringList{intel, nvidia} << Flags{true, true} << QStringLiteral("llvmpipe") << Flags{false, false};
        QTest::newRow("both match") << QStringList{intel, intel} << Flags{false, false} << QStringLiteral("mesa intel(r)") << Flags{true, true};
    }
    void markActiveAdapters()
    {
        QFETCH(QStringList, vendors);
        QFETCH(Flags, before);
        QFETCH(QString, renderer);
        QFETCH(Flags, expected);

        QList<Device> gpus;
        for (int i = 0; i < vendors.size(); ++i) {
            gpus.append(adapter(vendors.at(i), QStringLiteral("Card")));
            gpus.last().setActive(before.at(i));
        }
        DriverSelection::markActiveAdapters(gpus, renderer);
        Flags actual;
        for (const Device &device : gpus) {
            actual.append(device.isActive());
        }
        QCOMPARE(actual, expected);
    }

    void initialAdapterIndex_data()
    {
        QTest::addColumn<Flags>("active");
        QTest::addColumn<int>("expected");

        QTest::newRow("no adapters") << Flags() << 0;
        QTest::newRow("none active") << Flags{false, false} << 0;
        QTest::newRow("first active") << Flags{true, false} << 0;
        QTest::newRow("last active") << Flags{false, true} << 1;
        QTest::newRow("two active, later wins") << Flags{true, false, true, false} << 2;
    }
    void initialAdapterIndex()
    {
        QFETCH(Flags, active);
        QFETCH(int, expected);
        QList<Device> gpus;
        for (bool mark : active) {
            gpus.append(Device());
            gpus.last().setActive(mark);
        }
        QCOMPARE(DriverSelection::initialAdapterIndex(gpus), expected);
    }

    void adapterItemText_data()
    {
        QTest::addColumn<QString>("busId");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("named") << QStringLiteral("PCI:00@0000:02:0") << QStringLiteral("HD Graphics 630")
                               << QStringLiteral("PCI:00@0000:02:0: HD Graphics 630");
        QTest::newRow("unnamed") << QStringLiteral("PCI:01@0000:00:0") << QString() << QStringLiteral("PCI:01@0000:00:0: ");
    }
    void adapterItemText()
    {
        QFETCH(QString, busId);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        Device device;
        device.setIdentityForTest(QString(), name, QString(), busId, QString(), Unknown);
        QCOMPARE(DriverSelection::adapterItemText(device), expected);
    }

    void kernelModuleList_data()
    {
        QTest::addColumn<QStringList>("modules");
        QTest::addColumn<int>("inUse");
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<int>("selected");

        QTest::newRow("no modules") << QStringList() << 0 << QStringList() << -1;
        QTest::newRow("single") << QStringList{QStringLiteral("i915")} << 0 << QStringList{QStringLiteral("i915 (current)")} << 0;
        QTest::newRow("first in use") << QStringList{QStringLiteral("nouveau"), QStringLiteral("nvidia")} << 0
                                      << QStringList{QStringLiteral("nouveau (current)"), QStringLiteral("nvidia")} << 0;
        QTest::newRow("middle in use") << QStringList{QStringLiteral("nouveau"), QStringLiteral("nvidia"), QStringLiteral("nvidiafb")} << 1
                                       << QStringList{QStringLiteral("nouveau"), QStringLiteral("nvidia (current)"), QStringLiteral("nvidiafb")} << 1;
        QTest::newRow("last in use") << QStringList{QStringLiteral("radeon"), QStringLiteral("amdgpu")} << 1
                                     << QStringList{QStringLiteral("radeon"), QStringLiteral("amdgpu (current)")} << 1;
        // -1: the adapter is bound to no module of the list (or to none): nothing is marked and
        // the first row, the device's current index, is selected.
        QTest::newRow("bound to none of them") << QStringList{QStringLiteral("nouveau"), QStringLiteral("nvidia")} << -1
                                               << QStringList{QStringLiteral("nouveau"), QStringLiteral("nvidia")} << 0;
    }
    void kernelModuleList()
    {
        QFETCH(QStringList, modules);
        QFETCH(int, inUse);
        QFETCH(QStringList, labels);
        QFETCH(int, selected);

        QList<Module> list;
        for (const QString &name : modules) {
            list.append(module(name));
        }
        Device device;
        device.setDriverListForTest(list, qMax(inUse, 0), inUse >= 0);
        // A pending choice must not move the mark: only the module in use is "current".
        if (!modules.isEmpty()) {
            device.setNewDriver(modules.first());
        }

        const DriverSelection::ListFill fill = DriverSelection::kernelModuleList(device);
        QStringList actualLabels;
        QStringList values;
        for (const auto &entry : fill.entries) {
            actualLabels.append(entry.label);
            values.append(entry.value);
        }
        QCOMPARE(actualLabels, labels);
        QCOMPARE(values, modules);
        QCOMPARE(fill.selected, selected);
    }
};

QTEST_GUILESS_MAIN(DriverSelectionTest)
#include "driverselectiontest.moc"
