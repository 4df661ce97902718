// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The device record: identifier formatting, bus addresses, construction from libhd records
// made in memory, and the module choice operations.
#include "device.h"
#include "elfwriter.h"
#include "modulediscovery.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <hd.h>

struct RecordSpec {
    unsigned vendorId;
    unsigned deviceId;
    unsigned baseClass;
    unsigned subClass;
    const char *vendorName;
    const char *deviceName;
    const char *model;
    const char *busId;
    const char *driver;
    QStringList drivers;
};

Q_DECLARE_METATYPE(RecordSpec)

namespace
{
const QByteArray traceFormat = "sched_job=%llu, timeline=%s, context=%u, seqno=%u, ring_name=%s, num_ibs=%u";

// libhd-style allocation: hd_free_hd_list releases all of it (tag.freeit).
char *dup(const char *text)
{
    return text ? strdup(text) : nullptr;
}

str_list_t *strings(const QList<QByteArray> &values)
{
    str_list_t *head = nullptr;
    for (int i = values.size() - 1; i >= 0; --i) {
        auto *entry = static_cast<str_list_t *>(calloc(1, sizeof(str_list_t)));
        entry->str = dup(values.at(i).constData());
        entry->next = head;
        head = entry;
    }
    return head;
}

// One driver_info entry: "module:NAME" for a kernel module, "x11:SERVER" for an X server entry,
// whose database list holds the server version, the X driver and a 3D flag as libhd has them.
driver_info_t *driverInfo(const QStringList &specs)
{
    driver_info_t *head = nullptr;
    for (int i = specs.size() - 1; i >= 0; --i) {
        auto *info = static_cast<driver_info_t *>(calloc(1, sizeof(driver_info_t)));
        const QString kind = specs.at(i).section(QLatin1Char(':'), 0, 0);
        const QByteArray value = specs.at(i).section(QLatin1Char(':'), 1).toUtf8();
        if (kind == QLatin1String("x11")) {
            info->x11.type = di_x11;
            info->x11.hddb0 = strings({"4", value.isEmpty() ? QByteArray("vesa") : value, "3d"});
            info->x11.server = value.isEmpty() ? nullptr : dup(value.constData());
            info->x11.xf86_ver = dup("4");
        } else {
            info->module.type = di_module;
            info->module.modprobe = 1;
            info->module.hddb0 = strings({value});
            info->module.names = strings({value});
        }
        info->next = head;
        head = info;
    }
    return head;
}

hd_t *makeRecord(const RecordSpec &spec)
{
    auto *hd = static_cast<hd_t *>(calloc(1, sizeof(hd_t)));
    hd->tag.freeit = 1;
    hd->bus.id = bus_pci;
    hd->base_class.id = spec.baseClass;
    hd->base_class.name = dup(spec.baseClass == 3 ? "Display controller" : "Network controller");
    hd->sub_class.id = spec.subClass;
    hd->vendor.id = spec.vendorId;
    hd->vendor.name = dup(spec.vendorName);
    hd->device.id = spec.deviceId;
    hd->device.name = dup(spec.deviceName);
    hd->model = dup(spec.model);
    hd->sysfs_bus_id = dup(spec.busId);
    if (spec.busId) {
        hd->sysfs_id = dup(QByteArray("/devices/pci0000:00/").append(spec.busId).constData());
        hd->modalias = dup(QByteArray("pci:v").append(QByteArray::number(spec.vendorId & 0xffff, 16)).constData());
        hd->unique_id = dup("uniq.ABCDEF");
    }
    hd->driver = dup(spec.driver);
    hd->driver_info = driverInfo(spec.drivers);
    return hd;
}

struct RecordList {
    hd_t *record;
    explicit RecordList(hd_t *r)
        : record(r)
    {
    }
    ~RecordList()
    {
        hd_free_hd_list(record);
    }
};
}

Q_DECLARE_METATYPE(VideoCardVendorId)

class DeviceTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tree;

private Q_SLOTS:
    void initTestCase()
    {
        // A module tree in which nouveau and amdgpu are installed, each declaring its name.
        for (const QByteArray &name : {QByteArray("nouveau"), QByteArray("amdgpu")}) {
            const QString dir = m_tree.filePath(QStringLiteral("kernel/drivers/gpu/drm/") + QString::fromLatin1(name));
            QVERIFY(QDir().mkpath(dir));
            QFile file(dir + QLatin1Char('/') + QString::fromLatin1(name) + QStringLiteral(".ko"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(ElfWriter::elf64({{".rodata", ElfWriter::records({traceFormat})}, {".modinfo", ElfWriter::records({"license=GPL", "name=" + name})}}));
        }
    }

    void fromHex_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("expected");
        QTest::newRow("class 3, width 2") << 3 << 2 << "03";
        QTest::newRow("class 3, width 4") << 3 << 4 << "0003";
        QTest::newRow("Intel with PCI tag") << MAKE_ID(TAG_PCI, 0x8086) << 4 << "8086";
        QTest::newRow("NVIDIA with special tag") << MAKE_ID(TAG_SPECIAL, 0x10de) << 4 << "10de";
        QTest::newRow("upper-case digits come out lower") << 0xABCD << 4 << "abcd";
        QTest::newRow("zero") << 0 << 4 << "0000";
        QTest::newRow("cut to width") << 0x12345678 << 2 << "78";
        QTest::newRow("exactly width") << 0x5917 << 4 << "5917";
        QTest::newRow("wider than value") << 0x5917 << 6 << "005917";
        QTest::newRow("sub class 0x80") << 0x80 << 2 << "80";
    }

    void fromHex()
    {
        QFETCH(int, value);
        QFETCH(int, width);
        QFETCH(QString, expected);
        QCOMPARE(Device::fromHex(value, width), expected);
    }

    void parseBusId_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("discrete card") << "0000:01:00.0"
                                       << "PCI:01@0000:00:0";
        QTest::newRow("integrated") << "0000:00:02.0"
                                    << "PCI:00@0000:02:0";
        QTest::newRow("bus above 9 keeps hex") << "0000:0a:00.0"
                                               << "PCI:0a@0000:00:0";
        QTest::newRow("bus 0x10") << "0000:10:00.0"
                                  << "PCI:10@0000:00:0";
        QTest::newRow("slot and function") << "0000:0b:1f.7"
                                           << "PCI:0b@0000:1f:7";
        QTest::newRow("wide domain") << "10000:e1:00.1"
                                     << "PCI:e1@10000:00:1";
        QTest::newRow("inside a sysfs path") << "/devices/pci0000:00/0000:00:02.0"
                                             << "PCI:00@0000:02:0";
        QTest::newRow("no domain") << "00:02.0"
                                   << "PCI:@::";
        QTest::newRow("not hex") << "0000:0g:00.0"
                                 << "PCI:@::";
        QTest::newRow("garbage") << "garbage"
                                 << "PCI:@::";
        QTest::newRow("empty") << QString() << "PCI:@::";
    }

    void parseBusId()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(Device::parseBusId(input), expected);
    }

    void isGraphicsDevice()
    {
        QVERIFY(!Device::isGraphicsDevice(nullptr));
        RecordList display(makeRecord({0x10de, 0x1c03, 3, 0, nullptr, nullptr, nullptr, nullptr, nullptr, {}}));
        RecordList threeD(makeRecord({0x10de, 0x1c03, 3, 2, nullptr, nullptr, nullptr, nullptr, nullptr, {}}));
        RecordList network(makeRecord({0x8086, 0x15b7, 2, 0, nullptr, nullptr, nullptr, nullptr, nullptr, {}}));
        QVERIFY(Device::isGraphicsDevice(display.record));
        QVERIFY(Device::isGraphicsDevice(threeD.record));
        QVERIFY(!Device::isGraphicsDevice(network.record));
    }

    void construction_data()
    {
        QTest::addColumn<RecordSpec>("spec");
        QTest::addColumn<QString>("classId");
        QTest::addColumn<QString>("deviceId");
        QTest::addColumn<QString>("busId");
        QTest::addColumn<VideoCardVendorId>("vendor");
        QTest::addColumn<QStringList>("trueNames");
        QTest::addColumn<QStringList>("displayNames");
        QTest::addColumn<QString>("current");

        QTest::newRow("NVIDIA on nouveau") << RecordSpec{MAKE_ID(TAG_PCI, 0x10de),
                                                         MAKE_ID(TAG_PCI, 0x1c03),
                                                         3,
                                                         0,
                                                         "nVidia Corporation",
                                                         "GP106 [GeForce GTX 1060 6GB]",
                                                         "nVidia GP106 [GeForce GTX 1060 6GB]",
                                                         "0000:01:00.0",
                                                         "nouveau",
                                                         {"module:nouveau", "module:nvidia", "module:nvidia_drm", "module:nouveau"}}
                                           << "0300"
                                           << "1c03"
                                           << "PCI:01@0000:00:0" << Nvidia << QStringList{"nouveau", "nvidia", "nvidia_drm"}
                                           << QStringList{"nouveau", "nvidia", "nvidia_drm"} << "nouveau";
        QTest::newRow("AMD, no active driver") << RecordSpec{MAKE_ID(TAG_PCI, 0x1002),
                                                             MAKE_ID(TAG_PCI, 0x73bf),
                                                             3,
                                                             0x80,
                                                             "ATI Technologies Inc",
                                                             "Navi 21",
                                                             "ATI Navi 21",
                                                             "0000:0a:00.0",
                                                             nullptr,
                                                             {"module:radeon", "module:amdgpu"}}
                                               << "0380"
                                               << "73bf"
                                               << "PCI:0a@0000:00:0" << Amd << QStringList{"radeon", "amdgpu"} << QStringList{"radeon", "amdgpu"} << "radeon";
        QTest::newRow("Intel 3D controller, bound driver not a listed module")
            << RecordSpec{MAKE_ID(TAG_PCI, 0x8086),
                          MAKE_ID(TAG_PCI, 0x56a0),
                          3,
                          2,
                          "Intel Corporation",
                          "DG2",
                          "Intel DG2",
                          "0000:7e:00.0",
                          "vfio-pci",
                          {"module:i915", "module:xe"}}
            << "0302"
            << "56a0"
            << "PCI:7e@0000:00:0" << Intel << QStringList{"i915", "xe"} << QStringList{"i915", "xe"} << "i915";
        QTest::newRow("AMD module found in the tree is current")
            << RecordSpec{0x1002, 0x67df, 3, 0, "AMD", "Ellesmere", "AMD Ellesmere", "0000:03:00.0", "amdgpu", {"module:radeon", "module:amdgpu"}} << "0300"
            << "67df"
            << "PCI:03@0000:00:0" << Amd << QStringList{"radeon", "amdgpu"} << QStringList{"radeon", "amdgpu"} << "amdgpu";
        QTest::newRow("VMware: X server entry gives only its driver")
            << RecordSpec{MAKE_ID(TAG_PCI, 0x15ad),
                          MAKE_ID(TAG_PCI, 0x0405),
                          3,
                          0,
                          "VMware, Inc.",
                          "VMWARE0405",
                          "VMware VMWARE0405",
                          "0000:00:0f.0",
                          "vmwgfx",
                          {"x11:vmware", "module:vmwgfx"}}
            << "0300"
            << "0405"
            << "PCI:00@0000:0f:0" << Unknown << QStringList{"vmware", "vmwgfx"} << QStringList{"vmware", "vmwgfx"} << "vmwgfx";
        QTest::newRow("X server entry without a server name") << RecordSpec{MAKE_ID(TAG_PCI, 0x1234),
                                                                            MAKE_ID(TAG_PCI, 0x1111),
                                                                            3,
                                                                            0,
                                                                            nullptr,
                                                                            nullptr,
                                                                            nullptr,
                                                                            "0000:00:01.0",
                                                                            nullptr,
                                                                            {"x11:", "module:bochs"}}
                                                              << "0300"
                                                              << "1111"
                                                              << "PCI:00@0000:01:0" << Unknown << QStringList{"bochs"} << QStringList{"bochs"} << "bochs";
        QTest::newRow("nothing known") << RecordSpec{0x10de, 0x1c03, 3, 0, nullptr, nullptr, nullptr, nullptr, nullptr, {}} << "0300"
                                       << "1c03"
                                       << "PCI:@::" << Nvidia << QStringList{} << QStringList{} << QString();
    }

    void construction()
    {
        QFETCH(RecordSpec, spec);
        QFETCH(QString, classId);
        QFETCH(QString, deviceId);
        QFETCH(QString, busId);
        QFETCH(VideoCardVendorId, vendor);
        QFETCH(QStringList, trueNames);
        QFETCH(QStringList, displayNames);
        QFETCH(QString, current);

        RecordList list(makeRecord(spec));
        const ModuleIndex index(m_tree.path());
        const Device device(list.record, &index);

        QCOMPARE(device.vendorName(), QString::fromUtf8(spec.vendorName));
        QCOMPARE(device.deviceName(), QString::fromUtf8(spec.deviceName));
        QCOMPARE(device.model(), QString::fromUtf8(spec.model));
        QCOMPARE(device.classId(), classId);
        QCOMPARE(device.deviceId(), deviceId);
        QCOMPARE(device.sysfsBusId(), busId);
        QCOMPARE(device.modalias(), QString::fromUtf8(list.record->modalias));
        QCOMPARE(device.uniqueId(), QString::fromUtf8(list.record->unique_id));
        QCOMPARE(device.videoCardVendorId(), vendor);
        QCOMPARE(qint32(device.videoCardVendorId()), qint32(vendor));
        QVERIFY(!device.isActive());
        QCOMPARE(device.xorgDriver(), QString()); // no DRM node for these bus ids here

        QStringList seenTrue, seenDisplay;
        for (const Module &module : device.driverList()) {
            seenTrue << module.trueName;
            seenDisplay << module.displayName;
            // found modules carry their file, missing ones none
            const bool installed = module.trueName == QLatin1String("nouveau") || module.trueName == QLatin1String("amdgpu");
            QCOMPARE(module.path.isEmpty(), !installed);
        }
        QCOMPARE(seenTrue, trueNames);
        QCOMPARE(seenDisplay, displayNames);
        if (!current.isEmpty()) {
            QCOMPARE(device.currentDriver().displayName, current);
            QCOMPARE(device.newDriver(), device.currentDriver());
        }

        const Device copy = device; // a plain value
        QCOMPARE(copy.driverList(), device.driverList());
        QCOMPARE(copy.sysfsBusId(), device.sysfsBusId());
    }

    void defaultDevice()
    {
        const Device device;
        QVERIFY(device.vendorName().isEmpty());
        QVERIFY(device.sysfsBusId().isEmpty());
        QVERIFY(device.driverList().isEmpty());
        QVERIFY(!device.isActive());
        QCOMPARE(device.videoCardVendorId(), Unknown);
        // the benchmark page is built for such a device when no adapter is active
        QCOMPARE(device.currentDriver(), Module{});
        QCOMPARE(device.newDriver(), Module{});
    }

    void findCurrentModuleIndex_data()
    {
        QTest::addColumn<QByteArray>("driver");
        QTest::addColumn<bool>("isNull");
        QTest::addColumn<int>("expected");
        QTest::newRow("null") << QByteArray() << true << 0;
        QTest::newRow("unmatched") << QByteArray("vfio-pci") << false << 0;
        QTest::newRow("display name") << QByteArray("nvidia_drm") << false << 2;
        QTest::newRow("true name alone does not count") << QByteArray("nvidia-drm") << false << 0;
        QTest::newRow("first of equal display names") << QByteArray("nouveau") << false << 1;
        QTest::newRow("case matters") << QByteArray("Nouveau") << false << 0;
    }

    void findCurrentModuleIndex()
    {
        QFETCH(QByteArray, driver);
        QFETCH(bool, isNull);
        QFETCH(int, expected);
        Device device;
        device.setDriverListForTest(modules(), 0);
        QCOMPARE(device.findCurrentModuleIndex(isNull ? nullptr : driver.constData()), expected);
        Device empty;
        QCOMPARE(empty.findCurrentModuleIndex(isNull ? nullptr : driver.constData()), 0);
    }

    void setNewDriver_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("expected");
        QTest::newRow("display name, last of two") << "nouveau" << 3;
        QTest::newRow("true name") << "nvidia-drm" << 2;
        QTest::newRow("display name of one, true name of a later one") << "nvidia" << 3;
        QTest::newRow("unknown leaves it") << "radeon" << 1;
        QTest::newRow("case matters") << "NOUVEAU" << 1;
    }

    void setNewDriver()
    {
        QFETCH(QString, name);
        QFETCH(int, expected);
        Device device;
        device.setDriverListForTest(modules(), 1);
        device.setNewDriver(name);
        QCOMPARE(device.newDriver(), modules().at(expected));
        QCOMPARE(device.currentDriver(), modules().at(1)); // only the next save changes
        device.updateCurrentDriver();
        QCOMPARE(device.currentDriver(), modules().at(expected));
    }

    void driverByTrueName()
    {
        Device device;
        device.setDriverListForTest(modules(), 0);
        const QPair<bool, Module> found = device.driverByTrueName(QStringLiteral("nouveau"));
        QVERIFY(found.first);
        QCOMPARE(found.second, modules().at(1)); // the first of the two nouveau entries
        QVERIFY(device.driverByTrueName(QStringLiteral("nvidia-drm")).first);
        QVERIFY(!device.driverByTrueName(QStringLiteral("nvidia_drm")).first); // a display name only
        const QPair<bool, Module> missing = device.driverByTrueName(QStringLiteral("radeon"));
        QVERIFY(!missing.first);
        QCOMPARE(missing.second, Module());
    }

private:
    static QList<Module> modules()
    {
        return {
            {QStringLiteral("nvidia"), QStringLiteral("nvidia"), QStringLiteral("/m/nvidia.ko")},
            {QStringLiteral("nouveau"), QStringLiteral("nouveau"), QStringLiteral("/m/nouveau.ko")},
            {QStringLiteral("nvidia-drm"), QStringLiteral("nvidia_drm"), QStringLiteral("/m/nvidia-drm.ko")},
            {QStringLiteral("nvidia"), QStringLiteral("nouveau"), QStringLiteral("/m/other/nouveau.ko")},
        };
    }
};

QTEST_GUILESS_MAIN(DeviceTest)
#include "devicetest.moc"
