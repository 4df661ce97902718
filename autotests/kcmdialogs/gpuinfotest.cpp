// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "gpuinfo.h"
#include "device.h"
#include "modulediscovery.h"
#include "visibleskip.h"

#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <hd.h>

#include <cstdlib>
#include <cstring>

namespace
{
// A display record as libhd hands it out, built in memory.
hd_t *makeRecord(unsigned vendor, unsigned device, const char *vendorName, const char *model, const char *busId, const char *uniqueId)
{
    auto *record = static_cast<hd_t *>(calloc(1, sizeof(hd_t)));
    record->tag.freeit = 1;
    record->bus.id = bus_pci;
    record->base_class.id = bc_display;
    record->sub_class.id = sc_dis_vga;
    record->vendor.id = MAKE_ID(TAG_PCI, vendor);
    record->vendor.name = strdup(vendorName);
    record->device.id = MAKE_ID(TAG_PCI, device);
    record->device.name = strdup(model);
    record->model = strdup(model);
    record->sysfs_bus_id = strdup(busId);
    record->unique_id = strdup(uniqueId);
    return record;
}
}

class TestGpuInfo : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void updateInfoFillsTheFiveLabels_data();
    void updateInfoFillsTheFiveLabels();
    void rendererEmptyWithoutOpenGL();
    void rendererUnderXvfb();
};

void TestGpuInfo::updateInfoFillsTheFiveLabels_data()
{
    QTest::addColumn<uint>("vendor");
    QTest::addColumn<uint>("device");
    QTest::addColumn<QString>("vendorName");
    QTest::addColumn<QString>("busId");
    QTest::addColumn<QString>("uniqueId");
    QTest::addColumn<QString>("expectedBus");
    QTest::addColumn<QString>("expectedDeviceId");

    QTest::newRow("nvidia on bus 1") << 0x10deu << 0x1c03u << QStringLiteral("nVidia Corporation") << QStringLiteral("0000:01:00.0")
                                     << QStringLiteral("VCu0.KM+TnJ9ZCwA") << QStringLiteral("PCI:01@0000:00:0") << QStringLiteral("1c03");
    QTest::newRow("intel, small device id") << 0x8086u << 0x0046u << QStringLiteral("Intel Corporation") << QStringLiteral("0000:00:02.0")
                                            << QStringLiteral("_Znp.ka6dvf8kqa5") << QStringLiteral("PCI:00@0000:02:0") << QStringLiteral("0046");
}

void TestGpuInfo::updateInfoFillsTheFiveLabels()
{
    QFETCH(uint, vendor);
    QFETCH(uint, device);
    QFETCH(QString, vendorName);
    QFETCH(QString, busId);
    QFETCH(QString, uniqueId);
    QFETCH(QString, expectedBus);
    QFETCH(QString, expectedDeviceId);

    QTemporaryDir emptyModuleTree;
    const ModuleIndex index(emptyModuleTree.path());
    hd_t *record =
        makeRecord(vendor, device, vendorName.toUtf8().constData(), "Model as libhd combines it", busId.toUtf8().constData(), uniqueId.toUtf8().constData());
    const Device gpu(record, &index);
    hd_free_hd_list(record);

    GpuInfo dialog;
    auto label = [&dialog](const char *name) {
        auto *found = dialog.findChild<QLabel *>(QLatin1String(name));
        return found ? found->text() : QStringLiteral("<no label %1>").arg(QLatin1String(name));
    };
    const QString placeholder = label("modelLabel");

    dialog.updateInfo(gpu);

    // The model line shows the PCI database name (possibly empty here), never libhd's model.
    QCOMPARE(label("modelLabel"), gpu.name());
    QVERIFY(label("modelLabel") != placeholder);
    QCOMPARE(label("vendorLabel"), vendorName);
    QCOMPARE(label("busLabel"), expectedBus);
    QCOMPARE(label("devIdLabel"), expectedDeviceId);
    QCOMPARE(label("uniqIdLabel"), uniqueId);
}

void TestGpuInfo::rendererEmptyWithoutOpenGL()
{
    if (QGuiApplication::platformName() != QLatin1String("offscreen") || qEnvironmentVariableIsSet("DISPLAY")) {
        TEST_SKIP("needs the offscreen platform without a display");
    }
    QTest::ignoreMessage(QtWarningMsg, "Failed create QOpenGLContext");
    QCOMPARE(GpuInfo::currentRenderer(), QString());
}

// Under a real X server the renderer comes from Mesa's software rasteriser. The check runs
// in a child process of this test, as the xcb platform must be chosen at start.
void TestGpuInfo::rendererUnderXvfb()
{
    if (qEnvironmentVariableIsSet("GPUINFO_PRINT_RENDERER")) {
        return;
    }
    if (!QFileInfo(QStringLiteral(XVFB_PROGRAM)).isExecutable()) {
        TEST_SKIP("Xvfb is not installed");
    }
    QProcess xvfb;
    const QString display = QStringLiteral(":%1").arg(90 + QCoreApplication::applicationPid() % 100);
    xvfb.start(
        QStringLiteral(XVFB_PROGRAM),
        QStringList{display, QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("640x480x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY(xvfb.waitForStarted(5000));
    QTest::qWait(1000);

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("GPUINFO_PRINT_RENDERER"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    const bool finished = child.waitForFinished(60000);
    xvfb.terminate();
    xvfb.waitForFinished(5000);
    QVERIFY(finished);
    const QString out = QString::fromLocal8Bit(child.readAllStandardOutput());
    const QRegularExpression line(QStringLiteral("^RENDERER=(.*)$"), QRegularExpression::MultilineOption);
    const auto match = line.match(out);
    QVERIFY2(match.hasMatch(), qPrintable(out + QString::fromLocal8Bit(child.readAllStandardError())));
    QVERIFY2(match.captured(1).startsWith(QLatin1String("llvmpipe")), qPrintable(match.captured(1)));
}

// In the child started by rendererUnderXvfb: print the renderer and leave.
static int printRendererIfAsked(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("GPUINFO_PRINT_RENDERER")) {
        return -1;
    }
    QApplication app(argc, argv);
    printf("RENDERER=%s\n", GpuInfo::currentRenderer().toUtf8().constData());
    return 0;
}

int main(int argc, char **argv)
{
    const int child = printRendererIfAsked(argc, argv);
    if (child >= 0) {
        return child;
    }
    QApplication app(argc, argv);
    TestGpuInfo test;
    QTEST_SET_MAIN_SOURCE_PATH
    return VisibleSkip::runStatus(QTest::qExec(&test, argc, argv));
}

#include "gpuinfotest.moc"
