// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The X driver scan of the control module against the command-line listing: same folders and
// the same driver in use, which the control module marks only on the active adapter.
#include "xorgdrivers.h"
#include "device.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using Entries = QList<QPair<QString, QString>>; // (label, value)

class XOrgDriversTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QStringList m_dirs;

    // One driver file per folder keeps the listing order independent of the file system.
    void makeFolders(const QList<QStringList> &folders)
    {
        m_dirs.clear();
        for (int i = 0; i < folders.size(); ++i) {
            const QString dir = m_root.filePath(QStringLiteral("set%1/dir%2").arg(QTest::currentDataTag()).arg(i));
            QDir().mkpath(dir);
            for (const QString &file : folders.at(i)) {
                QFile(dir + QLatin1Char('/') + file).open(QIODevice::WriteOnly);
            }
            m_dirs << dir;
        }
    }

private Q_SLOTS:
    void scan_data()
    {
        QTest::addColumn<QList<QStringList>>("folders");
        QTest::addColumn<QString>("xorgDriver");
        QTest::addColumn<bool>("active");
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QStringList>("cliLines");

        const QList<QStringList> typical = {{QStringLiteral("intel_drv.so")}, {QStringLiteral("modesetting_drv.so")}, {QStringLiteral("vesa_drv.so")}};
        // The driver in use is the first installed one the log tag starts, whatever the case.
        QTest::newRow("active, tag names a later driver: all listed") << typical << "modeset" << true << QStringList{"intel", "modesetting (current)", "vesa"}
                                                                      << 1 << QStringList{"intel", "modesetting (current)", "vesa"};
        QTest::newRow("inactive: everything, nothing selected")
            << typical << "modeset" << false << QStringList{"intel", "modesetting", "vesa"} << -1 << QStringList{"intel", "modesetting (current)", "vesa"};
        QTest::newRow("unknown X driver (no DRM node): nothing marked")
            << typical << QString() << true << QStringList{"intel", "modesetting", "vesa"} << -1 << QStringList{"intel", "modesetting", "vesa"};
        QTest::newRow("inside a name is not a prefix")
            << typical << "setting" << true << QStringList{"intel", "modesetting", "vesa"} << -1 << QStringList{"intel", "modesetting", "vesa"};
        QTest::newRow("upper-case tag NVIDIA") << QList<QStringList>{{QStringLiteral("nouveau_drv.so")}, {QStringLiteral("nvidia_drv.so")}} << "NVIDIA" << true
                                               << QStringList{"nouveau", "nvidia (current)"} << 1 << QStringList{"nouveau", "nvidia (current)"};
        QTest::newRow("upper-case tag AMDGPU before radeon")
            << QList<QStringList>{{QStringLiteral("radeon_drv.so")}, {QStringLiteral("amdgpu_drv.so")}} << "AMDGPU" << true
            << QStringList{"radeon", "amdgpu (current)"} << 1 << QStringList{"radeon", "amdgpu (current)"};
        QTest::newRow("tag naming no installed driver")
            << typical << "NVIDIA" << true << QStringList{"intel", "modesetting", "vesa"} << -1 << QStringList{"intel", "modesetting", "vesa"};
        QTest::newRow("first prefix match wins") << QList<QStringList>{{QStringLiteral("amdgpu_drv.so")},
                                                                       {QStringLiteral("ati_drv.so")},
                                                                       {QStringLiteral("amd_drv.so")}}
                                                 << "a" << true << QStringList{"amdgpu (current)", "ati", "amd"} << 0
                                                 << QStringList{"amdgpu (current)", "ati", "amd"};
        QTest::newRow("a driver in two folders: listed twice, marked once")
            << QList<QStringList>{{QStringLiteral("vesa_drv.so")}, {QStringLiteral("intel_drv.so")}, {QStringLiteral("vesa_drv.so")}} << "vesa" << true
            << QStringList{"vesa (current)", "intel", "vesa"} << 0 << QStringList{"vesa (current)", "intel", "vesa"};
        QTest::newRow("other files ignored") << QList<QStringList>{{QStringLiteral("_drv.so")},
                                                                   {QStringLiteral("intel_drv.so.bak")},
                                                                   {QStringLiteral("libglx.so")},
                                                                   {QStringLiteral("x_drv.so")}}
                                             << "nv" << true << QStringList{"x"} << -1 << QStringList{"x"};
        QTest::newRow("no folders") << QList<QStringList>{} << "modeset" << true << QStringList{} << -1 << QStringList{};
    }

    void scan()
    {
        QFETCH(QList<QStringList>, folders);
        QFETCH(QString, xorgDriver);
        QFETCH(bool, active);
        QFETCH(QStringList, labels);
        QFETCH(int, selected);
        QFETCH(QStringList, cliLines);
        makeFolders(folders);

        Device device;
        device.updateXOrgDriver(xorgDriver);
        device.setActive(active);
        const XOrgDrivers::ScanResult result = XOrgDrivers::scan(device, m_dirs);
        QStringList seenLabels;
        for (const XOrgDrivers::Entry &entry : result.entries) {
            seenLabels << entry.label;
            QVERIFY(entry.label.startsWith(entry.value));
            QVERIFY(!entry.value.contains(QLatin1Char(' ')));
        }
        QCOMPARE(seenLabels, labels);
        QCOMPARE(result.selected, selected);
        QCOMPARE(XOrgDrivers::cliListing(xorgDriver, m_dirs), cliLines);
    }

    void missingFolders()
    {
        const QStringList dirs = {m_root.filePath(QStringLiteral("absent1")), m_root.filePath(QStringLiteral("absent2"))};
        Device device;
        device.setActive(true);
        QVERIFY(XOrgDrivers::scan(device, dirs).entries.isEmpty());
        QVERIFY(XOrgDrivers::cliListing(QString(), dirs).isEmpty());
    }

    // Drivers below subfolders and behind linked folders are found too.
    void nestedAndLinkedFolders()
    {
        QTemporaryDir top;
        QTemporaryDir elsewhere;
        QVERIFY(QDir().mkpath(top.filePath(QStringLiteral("a/b"))));
        QVERIFY(QFile(top.filePath(QStringLiteral("a/b/fbdev_drv.so"))).open(QIODevice::WriteOnly));
        QVERIFY(QFile(elsewhere.filePath(QStringLiteral("nvidia_drv.so"))).open(QIODevice::WriteOnly));
        const QString linked = m_root.filePath(QStringLiteral("linked"));
        QVERIFY(QDir().mkpath(linked));
        QVERIFY(QFile::link(elsewhere.path(), linked + QStringLiteral("/nvidia")));
        QCOMPARE(XOrgDrivers::installedDrivers({top.path(), linked}), (QStringList{QStringLiteral("fbdev"), QStringLiteral("nvidia")}));
    }
};

QTEST_GUILESS_MAIN(XOrgDriversTest)
#include "xorgdriverstest.moc"
