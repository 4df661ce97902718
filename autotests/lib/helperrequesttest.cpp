// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "device.h"
#include "helperclient.h"

#include "recordinghelperrunner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class HelperRequestTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;

    // X driver folders holding exactly the given drivers, split over two folders as on Debian
    // (the NVIDIA driver lives in a folder of its own).
    QStringList driverDirs(const QStringList &drivers)
    {
        static int count = 0;
        const QString base = m_root.filePath(QString::number(++count));
        const QStringList dirs{base + QStringLiteral("/xorg/modules/drivers"), base + QStringLiteral("/nvidia/xorg")};
        for (const QString &dir : dirs) {
            QDir().mkpath(dir);
        }
        for (const QString &driver : drivers) {
            QFile file((driver == QLatin1String("nvidia") ? dirs.at(1) : dirs.at(0)) + QLatin1Char('/') + driver + QStringLiteral("_drv.so"));
            file.open(QIODevice::WriteOnly);
        }
        return dirs;
    }

private Q_SLOTS:
    // The X driver a kernel module choice writes.
    void xorgDriverForModule_data()
    {
        QTest::addColumn<QString>("trueName");
        QTest::addColumn<QString>("declaredName");
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("expected");

        const QStringList debian{"amdgpu", "fbdev", "modesetting", "nouveau", "radeon", "vesa", "vmware"};
        QTest::newRow("nouveau: its own") << "nouveau"
                                          << "nouveau" << debian << "nouveau";
        QTest::newRow("i915: none of its name") << "i915"
                                                << "i915" << debian << "modesetting";
        QTest::newRow("vmwgfx: vmware is not its name") << "vmwgfx"
                                                        << "vmwgfx" << debian << "modesetting";
        QTest::newRow("xe, nothing installed") << "xe"
                                               << "xe" << QStringList() << "modesetting";
        QTest::newRow("own name before the declared one") << "radeon"
                                                          << "amdgpu" << debian << "radeon";
        QTest::newRow("declared name's") << "nvidia_current"
                                         << "nvidia" << (debian + QStringList{"nvidia"}) << "nvidia";
        QTest::newRow("family of a flavoured module") << "nvidia_current_open"
                                                      << "nvidia-current-open" << (debian + QStringList{"nvidia"}) << "nvidia";
        QTest::newRow("flavoured, family not installed") << "nvidia_current"
                                                         << "nvidia_current" << debian << "modesetting";
        QTest::newRow("case matters") << "Nouveau"
                                      << "Nouveau" << debian << "modesetting";
    }
    void xorgDriverForModule()
    {
        QFETCH(QString, trueName);
        QFETCH(QString, declaredName);
        QFETCH(QStringList, installed);
        QFETCH(QString, expected);
        QCOMPARE(HelperRequests::xorgDriverForModule({trueName, declaredName, QString()}, installed), expected);
    }

    // What the replace action carries, for the control module (vendor sent) and the command
    // line (vendor left out).
    void replace_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("chosenModule");
        QTest::addColumn<QString>("xorgDriver");
        QTest::addColumn<bool>("sendVendor");
        QTest::addColumn<QVariantMap>("expected");

        const QString bus = "PCI:00@0000:02:0";
        auto args = [&](const QString &driver, const QString &model, bool vendor) {
            QVariantMap map{{"driver", driver}, {"modelName", model}, {"busId", bus}};
            if (vendor) {
                map.insert("videoCardVendorId", 0x8086);
            }
            return map;
        };
        QTest::newRow("module i915, control module") << "UHD Graphics 620"
                                                     << "i915" << QString() << true << args("modesetting", "UHD Graphics 620", true);
        QTest::newRow("module i915, command line") << "UHD Graphics 620"
                                                   << "i915" << QString() << false << args("modesetting", "UHD Graphics 620", false);
        QTest::newRow("module with its own X driver") << "UHD Graphics 620"
                                                      << "fbdev" << QString() << true << args("fbdev", "UHD Graphics 620", true);
        QTest::newRow("X driver given") << "UHD Graphics 620"
                                        << "i915"
                                        << "vesa" << false << args("vesa", "UHD Graphics 620", false);
        QTest::newRow("no database name: libhd model") << QString() << "i915" << QString() << true << args("modesetting", "Intel UHD Graphics 620", true);
    }
    void replace()
    {
        QFETCH(QString, name);
        QFETCH(QString, chosenModule);
        QFETCH(QString, xorgDriver);
        QFETCH(bool, sendVendor);
        QFETCH(QVariantMap, expected);

        Device device;
        device.setIdentityForTest("Intel Corporation", name, "Intel UHD Graphics 620", "PCI:00@0000:02:0", "0300", Intel);
        device.setDriverListForTest({{"xe", "xe", QString()}, {"i915", "i915", QString()}, {"fbdev", "fbdev", QString()}}, 0);
        device.setNewDriver(chosenModule);

        const HelperRequest request = HelperRequests::replace(device,
                                                              xorgDriver,
                                                              sendVendor ? HelperRequests::VendorArgument::Send : HelperRequests::VendorArgument::Omit,
                                                              driverDirs({"fbdev", "modesetting", "vesa"}));
        QVERIFY(request.isReady());
        QCOMPARE(request.action, QStringLiteral("replace"));
        QCOMPARE(request.arguments, expected);
        // The helper reads the vendor as an integer; a text would arrive as 0.
        if (sendVendor) {
            QCOMPARE(request.arguments.value("videoCardVendorId").userType(), int(QMetaType::Int));
        }
    }

    // Requests that cannot be built never reach the helper.
    void refusedRequestsStayUnsent_data()
    {
        QTest::addColumn<int>("vendor");
        QTest::newRow("replace: no module, no X driver") << int(Intel);
        QTest::newRow("tearing: NVIDIA") << int(Nvidia);
    }
    void refusedRequestsStayUnsent()
    {
        QFETCH(int, vendor);
        Device device;
        device.setIdentityForTest("Vendor", "Name", "Model", "PCI:00@0000:02:0", "0300", VideoCardVendorId(vendor));
        const HelperRequest request = vendor == Intel ? HelperRequests::replace(device, QString(), HelperRequests::VendorArgument::Send, driverDirs({}))
                                                      : HelperRequests::tearing(device, "nvidia", true);
        QVERIFY(!request.isReady());
        RecordingHelperRunner runner;
        const HelperResult result = runner.send(request);
        QVERIFY(!result.ok);
        QCOMPARE(result.errorText, request.refusal);
        QVERIFY(runner.calls.isEmpty());
    }
};

QTEST_GUILESS_MAIN(HelperRequestTest)
#include "helperrequesttest.moc"
