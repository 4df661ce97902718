// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The real probe (libhd, libpci, the module tree, DRM links and the X log) on a made-up
// machine. CTest starts it inside autotests/harness/gpu-fixture.sh; see CMakeLists.txt for the
// machine: 0000:00:02.0 Intel UHD 620 (i915, DRM node), 0000:0a:00.0 an adapter libhd knows
// no module for, 0000:0b:00.0 VMware SVGA II, 0000:0c:00.0 NVIDIA GTX 1060 (nouveau, whose
// module file declares its name), and a network card; root's X log names "intel", the
// display manager's "modeset", the X server owner's own "fbdev".
#include "device.h"
#include "systempaths.h"
#include "visibleskip.h"

#include <QFile>
#include <QTest>

class ProbeTest : public QObject
{
    Q_OBJECT

    static const Device *byBus(const QList<Device> &gpus, const QString &busId)
    {
        for (const Device &gpu : gpus) {
            if (gpu.sysfsBusId() == busId) {
                return &gpu;
            }
        }
        return nullptr;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("GPU_FIXTURE")) {
            TEST_SKIP("runs only on the made-up machine of autotests/harness/gpu-fixture.sh");
        }
    }

    void enumeration()
    {
        const QList<Device> withModules = getGpus();
        const QList<Device> all = probeGpus(ProbeFilter::AllDisplayClass);
        QStringList withModulesIds, allIds;
        for (const Device &gpu : withModules) {
            withModulesIds << gpu.sysfsBusId();
            QVERIFY(!gpu.driverList().isEmpty());
        }
        for (const Device &gpu : all) {
            allIds << gpu.sysfsBusId();
            QVERIFY(gpu.classId().startsWith(QLatin1String("03")));
        }
        // probe order; the adapter without modules only in the full list, the network card in none
        QCOMPARE(allIds,
                 (QStringList{QStringLiteral("PCI:0c@0000:00:0"),
                              QStringLiteral("PCI:0b@0000:00:0"),
                              QStringLiteral("PCI:0a@0000:00:0"),
                              QStringLiteral("PCI:00@0000:02:0")}));
        QCOMPARE(withModulesIds, (QStringList{QStringLiteral("PCI:0c@0000:00:0"), QStringLiteral("PCI:0b@0000:00:0"), QStringLiteral("PCI:00@0000:02:0")}));

        const Device *nvidia = byBus(withModules, QStringLiteral("PCI:0c@0000:00:0"));
        QCOMPARE(nvidia->videoCardVendorId(), Nvidia);
        QCOMPARE(nvidia->deviceId(), QStringLiteral("1c03"));
        QCOMPARE(nvidia->classId(), QStringLiteral("0300"));
        QCOMPARE(nvidia->name(), QStringLiteral("GP106 [GeForce GTX 1060 6GB]"));
        QCOMPARE(nvidia->modalias(), QStringLiteral("pci:v000010DEd00001C03sv00001043sd000085BFbc03sc00i00"));
        QCOMPARE(nvidia->currentDriver().trueName, QStringLiteral("nouveau"));
        QCOMPARE(nvidia->currentDriver().displayName, QStringLiteral("nouveau-kms")); // from its .modinfo
        QVERIFY(nvidia->currentDriver().path.endsWith(QLatin1String("/kernel/drivers/gpu/drm/nouveau/nouveau.ko")));
        QCOMPARE(nvidia->xorgDriver(), QString()); // no DRM node

        const Device *vmware = byBus(withModules, QStringLiteral("PCI:0b@0000:00:0"));
        QCOMPARE(vmware->videoCardVendorId(), Unknown);
        QCOMPARE(vmware->deviceId(), QStringLiteral("0405"));
        QCOMPARE(vmware->name(), QStringLiteral("SVGA II Adapter"));
        QCOMPARE(vmware->driverList().size(), 1);
        QCOMPARE(vmware->currentDriver().trueName, QStringLiteral("vmware")); // libhd's X driver entry

        const Device *intel = byBus(withModules, QStringLiteral("PCI:00@0000:02:0"));
        QCOMPARE(intel->videoCardVendorId(), Intel);
        QCOMPARE(intel->name(), QStringLiteral("UHD Graphics 620"));
        QCOMPARE(intel->currentDriver().trueName, QStringLiteral("i915"));
        QCOMPARE(intel->currentDriver().path, QString()); // only i915.ko.xz is installed
        QVERIFY(!intel->isActive());

        const Device *bare = byBus(all, QStringLiteral("PCI:0a@0000:00:0"));
        QVERIFY(bare->driverList().isEmpty());
        QCOMPARE(bare->videoCardVendorId(), Unknown);

        // The identity probe: the same adapters with the same texts, and nothing discovered.
        const QList<Device> identities = probeGpus(ProbeFilter::AllDisplayClass, HardwareScan::DisplayRecords, ProbeDetail::Identity);
        QCOMPARE(identities.size(), all.size());
        for (int i = 0; i < all.size(); ++i) {
            const Device &identity = identities.at(i);
            const Device &gpu = all.at(i);
            QCOMPARE(identity.sysfsBusId(), gpu.sysfsBusId());
            QCOMPARE(identity.model(), gpu.model());
            QCOMPARE(identity.vendorName(), gpu.vendorName());
            QCOMPARE(identity.deviceName(), gpu.deviceName());
            QCOMPARE(identity.classId(), gpu.classId());
            QCOMPARE(identity.deviceId(), gpu.deviceId());
            QCOMPARE(identity.modalias(), gpu.modalias());
            QCOMPARE(identity.uniqueId(), gpu.uniqueId());
            QCOMPARE(identity.videoCardVendorId(), gpu.videoCardVendorId());
            QVERIFY(identity.driverList().isEmpty());
            QVERIFY(identity.name().isEmpty());
            QVERIFY(identity.xorgDriver().isEmpty());
        }
    }

    // The X server is root's, a user's or not running (EXPECTED_ROOT_X), and the X driver in
    // use is the first tag of the log that counts for it (EXPECTED_XORG_DRIVER): root's log
    // for root, else the display manager's and then the one in the owner's home.
    void xorgDriverFromLog()
    {
        const QList<Device> gpus = getGpus();
        const Device *intel = byBus(gpus, QStringLiteral("PCI:00@0000:02:0"));
        QVERIFY(intel);
        QCOMPARE(intel->isRootStartedX(), qgetenv("EXPECTED_ROOT_X") == "1");
        QCOMPARE(intel->xorgDriver(), QString::fromLatin1(qgetenv("EXPECTED_XORG_DRIVER")));
    }

    // Second machine: an Intel and an NVIDIA display adapter that share the device identifier
    // 1c03, and a network card with that identifier too. The name database is searched by
    // device identifier among display controllers only, vendor not compared: both adapters get
    // the name of whichever of the two libpci lists first, never the network card's.
    void sharedDeviceIdSharesName()
    {
        const QList<Device> gpus = getGpus();
        const Device *intel = byBus(gpus, QStringLiteral("PCI:00@0000:02:0"));
        const Device *nvidia = byBus(gpus, QStringLiteral("PCI:01@0000:00:0"));
        QVERIFY(intel && nvidia);
        QCOMPARE(gpus.size(), 2);
        QCOMPARE(intel->deviceId(), QStringLiteral("1c03"));
        QCOMPARE(nvidia->deviceId(), QStringLiteral("1c03"));
        const QStringList candidates = {QStringLiteral("6 Series/C200 Series Chipset Family 6 port Mobile SATA AHCI Controller"),
                                        QStringLiteral("GP106 [GeForce GTX 1060 6GB]")};
        QVERIFY2(candidates.contains(intel->name()), qPrintable(intel->name()));
        QCOMPARE(nvidia->name(), intel->name());
    }
};

VISIBLE_SKIP_GUILESS_MAIN(ProbeTest)
#include "probetest.moc"
