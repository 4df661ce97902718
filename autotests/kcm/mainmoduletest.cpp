// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainmodule.h"
#include "device.h"
#include "dialogs/gpuinfo.h"
#include "helperclient.h"

#include "dialoganswerer.h"
#include "recordinghelperrunner.h"
#include "widgetlookup.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <memory>

namespace
{
struct AdapterSpec {
    QString vendor;
    QString name;
    QString busId;
    QStringList modules;
    int inUse = 0;
    QString xorgTag;
};

Device makeAdapter(const AdapterSpec &spec)
{
    Device device;
    device.setIdentityForTest(spec.vendor,
                              spec.name,
                              QStringLiteral("model of ") + spec.name,
                              spec.busId,
                              QStringLiteral("0300"),
                              spec.vendor.startsWith(QLatin1String("NVIDIA")) ? Nvidia : Intel);
    QList<Module> modules;
    for (const QString &name : spec.modules) {
        modules.append({name, name + QStringLiteral("-shown"), QStringLiteral("/mods/") + name + QStringLiteral(".ko")});
    }
    device.setDriverListForTest(modules, spec.inUse);
    device.updateXOrgDriver(spec.xorgTag);
    return device;
}

AdapterSpec intelSpec()
{
    return {QStringLiteral("Intel Corporation"),
            QStringLiteral("HD Graphics 630"),
            QStringLiteral("PCI:00@0000:02:0"),
            {QStringLiteral("i915")},
            0,
            QStringLiteral("modeset")};
}

AdapterSpec nvidiaSpec()
{
    return {QStringLiteral("NVIDIA Corporation"),
            QStringLiteral("GP107 [GeForce GTX 1050]"),
            QStringLiteral("PCI:01@0000:00:0"),
            {QStringLiteral("nouveau"), QStringLiteral("nvidia"), QStringLiteral("nvidia_drm")},
            0,
            QStringLiteral("nouveau")};
}

bool reportedChange(const QSignalSpy &spy)
{
    for (const QList<QVariant> &args : spy) {
        if (args.at(0).toBool()) {
            return true;
        }
    }
    return false;
}

const char *const controls[] =
    {"gpuBox", "kernelModuleBox", "gpuLabel", "kernelModuleLabel", "gpuInfo", "kernelModuleInfo", "xorgGroup", "tweaks", "installDrivers", "removeDrivers"};
}

class MainModuleTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_drivers;
    QStringList m_driverDirs;
    int m_reboots = 0;
    QString m_rebootNote;
    std::shared_ptr<RecordingHelperRunner> m_helper;

    MainModule::Services services(const QList<Device> &gpus, const QString &renderer)
    {
        MainModule::Services s;
        s.probe = [gpus] {
            return gpus;
        };
        s.helper = m_helper;
        s.rebootPrompt = [this](const QString &note) {
            ++m_reboots;
            m_rebootNote = note;
        };
        s.moduleVersion = [](const QString &path) -> QString {
            return QStringLiteral("v(") + path + QLatin1Char(')');
        };
        s.renderer = [renderer] {
            return renderer;
        };
        s.xorgDriverDirs = m_driverDirs;
        return s;
    }

    // Builds the module on the given adapters and waits until the window is filled.
    std::unique_ptr<MainModule> openFilled(const QList<Device> &gpus, const QString &renderer = QString())
    {
        auto module = std::make_unique<MainModule>(nullptr, QVariantList(), services(gpus, renderer));
        if (!QTest::qWaitFor([&] {
                return child<QComboBox>(module.get(), "gpuBox")->isEnabled();
            })) {
            qWarning("the window was never filled");
        }
        return module;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_drivers.isValid());
        // One driver per folder keeps the scan order fixed.
        for (const QString &name : {QStringLiteral("fbdev"), QStringLiteral("modesetting"), QStringLiteral("nouveau")}) {
            const QString dir = m_drivers.filePath(name);
            QVERIFY(QDir().mkpath(dir));
            QFile file(dir + QLatin1Char('/') + name + QStringLiteral("_drv.so"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            m_driverDirs.append(dir);
        }
    }

    void init()
    {
        m_reboots = 0;
        m_rebootNote.clear();
        m_helper = std::make_shared<RecordingHelperRunner>();
    }

    void loadingState()
    {
        auto gate = std::make_shared<QSemaphore>();
        MainModule::Services s = services({makeAdapter(intelSpec())}, QString());
        s.probe = [gate] {
            gate->acquire();
            return QList<Device>{makeAdapter(intelSpec())};
        };
        MainModule module(nullptr, QVariantList(), s);
        module.show();
        QTest::qWait(100);

        for (const char *name : controls) {
            QVERIFY2(!child<QWidget>(&module, name)->isEnabled(), name);
        }
        QCOMPARE(child<QLabel>(&module, "gpuVendor")->text(), QStringLiteral("Loading..."));
        QCOMPARE(child<QLabel>(&module, "kernelModuleVersion")->text(), QStringLiteral("Loading..."));
        QCOMPARE(module.windowTitle(), QStringLiteral("Driver Manager"));

        // The host may reload while the probe still runs: nothing to show yet.
        module.load();
        QCOMPARE(child<QComboBox>(&module, "kernelModuleBox")->count(), 0);
        QCOMPARE(child<QLabel>(&module, "gpuVendor")->text(), QStringLiteral("Loading..."));

        gate->release();
        QTRY_VERIFY(child<QComboBox>(&module, "gpuBox")->isEnabled());
        for (const char *name : controls) {
            QVERIFY2(child<QWidget>(&module, name)->isEnabled(), name);
        }
    }

    void noAdapters()
    {
        DialogAnswerer answerer(DialogAnswerer::EveryDialog);
        MainModule module(nullptr, QVariantList(), services({}, QString()));
        module.show();
        QTRY_VERIFY(answerer.sawLabel(QStringLiteral("Couldn't find any GPUs")));
        QCOMPARE(answerer.seen.size(), 1);
        QCOMPARE(answerer.seen.first().parent.data(), &module);
        QTest::qWait(50);
        for (const char *name : controls) {
            QVERIFY2(!child<QWidget>(&module, name)->isEnabled(), name);
        }
        QCOMPARE(child<QComboBox>(&module, "gpuBox")->count(), 0);
        QCOMPARE(child<QLabel>(&module, "gpuVendor")->text(), QStringLiteral("Loading..."));
        QCOMPARE(child<QLabel>(&module, "kernelModuleVersion")->text(), QStringLiteral("Loading..."));
        module.load();
        QCOMPARE(child<QComboBox>(&module, "kernelModuleBox")->count(), 0);
    }

    void filling_data()
    {
        QTest::addColumn<int>("adapters");
        QTest::addColumn<QString>("renderer");
        QTest::addColumn<int>("shown");

        QTest::newRow("lone adapter, software renderer") << 1 << QStringLiteral("llvmpipe (LLVM 15.0.6, 256 bits)") << 0;
        QTest::newRow("two, second renders") << 2 << QStringLiteral("NVIDIA GeForce GTX 1050/PCIe/SSE2") << 1;
        QTest::newRow("two, first renders") << 2 << QStringLiteral("Mesa Intel(R) HD Graphics 630 (KBL GT2)") << 0;
        QTest::newRow("two, none renders") << 2 << QStringLiteral("llvmpipe (LLVM 15.0.6, 256 bits)") << 0;
        QTest::newRow("two, both render: later wins") << 2 << QStringLiteral("intel nvidia") << 1;
    }
    void filling()
    {
        QFETCH(int, adapters);
        QFETCH(QString, renderer);
        QFETCH(int, shown);

        QList<AdapterSpec> specs{intelSpec(), nvidiaSpec()};
        specs = specs.mid(0, adapters);
        specs.last().inUse = specs.last().modules.size() - 1;
        QList<Device> gpus;
        for (const AdapterSpec &spec : specs) {
            gpus.append(makeAdapter(spec));
        }

        auto module = std::make_unique<MainModule>(nullptr, QVariantList(), services(gpus, renderer));
        QSignalSpy changed(module.get(), qOverload<bool>(&KCModule::changed));
        QTRY_VERIFY(child<QComboBox>(module.get(), "gpuBox")->isEnabled());

        const auto *gpuBox = child<QComboBox>(module.get(), "gpuBox");
        QCOMPARE(gpuBox->count(), adapters);
        for (int i = 0; i < adapters; ++i) {
            QCOMPARE(gpuBox->itemText(i), specs.at(i).busId + QStringLiteral(": ") + specs.at(i).name);
            QCOMPARE(gpuBox->itemData(i).toInt(), i);
        }
        QCOMPARE(gpuBox->currentIndex(), shown);
        QCOMPARE(module->getCurrentGpu()->sysfsBusId(), specs.at(shown).busId);

        const AdapterSpec &spec = specs.at(shown);
        QStringList expectedModules = spec.modules;
        expectedModules[spec.inUse] += QStringLiteral(" (current)");
        const auto *moduleBox = child<QComboBox>(module.get(), "kernelModuleBox");
        QCOMPARE(itemTexts(moduleBox), expectedModules);
        QCOMPARE(moduleBox->currentIndex(), spec.inUse);
        QCOMPARE(child<QLabel>(module.get(), "gpuVendor")->text(), QStringLiteral("Vendor: ") + spec.vendor);
        QCOMPARE(child<QLabel>(module.get(), "kernelModuleVersion")->text(), QStringLiteral("Version module: v(/mods/%1.ko)").arg(spec.modules.at(spec.inUse)));
        // Opening the module is not a change.
        QVERIFY(!reportedChange(changed));
    }

    void xorgDriverList_data()
    {
        QTest::addColumn<QString>("renderer");
        QTest::addColumn<QStringList>("expectedItems");
        QTest::addColumn<int>("expectedRow");
        QTest::addColumn<QString>("expectedXOrgDriver");

        // The X log tag "modeset" stands for the "modesetting" driver of the active adapter.
        QTest::newRow("active adapter") << QStringLiteral("mesa intel(r)")
                                        << QStringList{QStringLiteral("fbdev"), QStringLiteral("modesetting (current)"), QStringLiteral("nouveau")} << 1
                                        << QStringLiteral("modesetting");
        QTest::newRow("inactive adapter") << QStringLiteral("nvidia")
                                          << QStringList{QStringLiteral("fbdev"), QStringLiteral("modesetting"), QStringLiteral("nouveau")} << -1
                                          << QStringLiteral("modeset");
    }
    void xorgDriverList()
    {
        QFETCH(QString, renderer);
        QFETCH(QStringList, expectedItems);
        QFETCH(int, expectedRow);
        QFETCH(QString, expectedXOrgDriver);

        AdapterSpec other = nvidiaSpec();
        other.xorgTag.clear();
        auto module = openFilled({makeAdapter(intelSpec()), makeAdapter(other)}, renderer);
        child<QComboBox>(module.get(), "gpuBox")->setCurrentIndex(0);
        const auto *box = child<QComboBox>(module.get(), "xorgDriverBox");
        QCOMPARE(itemTexts(box), expectedItems);
        QCOMPARE(box->currentIndex(), expectedRow);
        QCOMPARE(module->getCurrentGpu()->xorgDriver(), expectedXOrgDriver);
        QVERIFY(!box->isEnabled()); // until "Expert settings" is ticked
    }

    void adapterChange()
    {
        auto module = openFilled({makeAdapter(intelSpec()), makeAdapter(nvidiaSpec())}, QStringLiteral("mesa intel(r)"));
        QSignalSpy changed(module.get(), qOverload<bool>(&KCModule::changed));
        child<QComboBox>(module.get(), "gpuBox")->setCurrentIndex(1);

        QCOMPARE(module->getCurrentGpu()->sysfsBusId(), nvidiaSpec().busId);
        QCOMPARE(itemTexts(child<QComboBox>(module.get(), "kernelModuleBox")),
                 (QStringList{QStringLiteral("nouveau (current)"), QStringLiteral("nvidia"), QStringLiteral("nvidia_drm")}));
        QCOMPARE(itemTexts(child<QComboBox>(module.get(), "xorgDriverBox")),
                 (QStringList{QStringLiteral("fbdev"), QStringLiteral("modesetting"), QStringLiteral("nouveau")}));
        QCOMPARE(child<QLabel>(module.get(), "gpuVendor")->text(), QStringLiteral("Vendor: NVIDIA Corporation"));
        QCOMPARE(child<QLabel>(module.get(), "kernelModuleVersion")->text(), QStringLiteral("Version module: v(/mods/nouveau.ko)"));
        QCOMPARE(module->getCurrentGpu()->newDriver().trueName, QStringLiteral("nouveau"));
        // Refilling the lists passes through other selections: the host hears of a change.
        QVERIFY(reportedChange(changed));
    }

    void kernelModuleChoice()
    {
        auto module = openFilled({makeAdapter(nvidiaSpec())});
        auto *box = child<QComboBox>(module.get(), "kernelModuleBox");
        QSignalSpy changed(module.get(), qOverload<bool>(&KCModule::changed));

        box->setCurrentIndex(1);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(module->getCurrentGpu()->newDriver().trueName, QStringLiteral("nvidia"));
        QCOMPARE(module->getCurrentGpu()->currentDriver().trueName, QStringLiteral("nouveau"));
        QCOMPARE(child<QLabel>(module.get(), "kernelModuleVersion")->text(), QStringLiteral("Version module: v(/mods/nvidia.ko)"));

        // The module already pending is no news.
        module->kernelModuleChangedHandler(box->currentText());
        QCOMPARE(changed.count(), 1);

        box->setCurrentIndex(0);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(module->getCurrentGpu()->newDriver().trueName, QStringLiteral("nouveau"));
    }

    void xorgDriverChoice()
    {
        auto module = openFilled({makeAdapter(intelSpec())});
        auto *box = child<QComboBox>(module.get(), "xorgDriverBox");
        QSignalSpy changed(module.get(), qOverload<bool>(&KCModule::changed));

        // Selections made by the program are not choices.
        box->setCurrentIndex(0);
        QCOMPARE(changed.count(), 0);
        box->setCurrentIndex(1);

        Q_EMIT box->activated(1); // the driver in use
        QCOMPARE(changed.count(), 0);
        QCOMPARE(module->getCurrentGpu()->xorgDriver(), QStringLiteral("modesetting"));

        box->setCurrentIndex(0);
        Q_EMIT box->activated(0);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(module->getCurrentGpu()->xorgDriver(), QStringLiteral("fbdev"));
    }

    void saveSuccess_data()
    {
        QTest::addColumn<bool>("expert");
        QTest::addColumn<bool>("named");
        QTest::addColumn<int>("moduleRow");
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("rebootNote");

        // X drivers installed: fbdev, modesetting, nouveau.
        QTest::newRow("kernel module with its own X driver") << false << true << 0 << "nouveau" << QString();
        QTest::newRow("kernel module without one") << false << true << 1 << "modesetting"
                                                   << "The X server driver \"modesetting\" was written for the kernel module \"nvidia\".";
        QTest::newRow("expert: X driver") << true << true << 1 << "fbdev"
                                          << "The X server driver \"fbdev\" was written for the kernel module \"nvidia\".";
        QTest::newRow("no database name") << false << false << 0 << "nouveau" << QString();
    }
    void saveSuccess()
    {
        QFETCH(bool, expert);
        QFETCH(bool, named);
        QFETCH(int, moduleRow);
        QFETCH(QString, driver);
        QFETCH(QString, rebootNote);

        AdapterSpec spec = nvidiaSpec();
        Device adapter = makeAdapter(spec);
        if (!named) {
            adapter.setIdentityForTest(spec.vendor, QString(), QStringLiteral("nVidia GP107"), spec.busId, QStringLiteral("0300"), Nvidia);
        }
        auto module = openFilled({adapter});
        child<QComboBox>(module.get(), "kernelModuleBox")->setCurrentIndex(moduleRow);
        auto *xorgBox = child<QComboBox>(module.get(), "xorgDriverBox");
        xorgBox->setCurrentIndex(0);
        Q_EMIT xorgBox->activated(0);
        child<QGroupBox>(module.get(), "xorgGroup")->setChecked(expert);

        module->save();

        QCOMPARE(m_helper->calls.size(), 1);
        QCOMPARE(m_helper->calls.first().shortName, QStringLiteral("replace"));
        const QVariantMap expected{{QStringLiteral("driver"), driver},
                                   {QStringLiteral("modelName"), named ? spec.name : QStringLiteral("nVidia GP107")},
                                   {QStringLiteral("busId"), spec.busId},
                                   {QStringLiteral("videoCardVendorId"), 0x10de}};
        QCOMPARE(m_helper->calls.first().args, expected);

        QCOMPARE(m_reboots, 1);
        QCOMPARE(m_rebootNote, rebootNote);
        const QString saved = spec.modules.at(moduleRow);
        QCOMPARE(module->getCurrentGpu()->currentDriver().trueName, saved);
        QStringList after = spec.modules;
        after[moduleRow] += QStringLiteral(" (current)");
        QCOMPARE(itemTexts(child<QComboBox>(module.get(), "kernelModuleBox")), after);
    }

    void saveFailure_data()
    {
        QTest::addColumn<QString>("helperText");
        QTest::addColumn<QString>("shown");

        QTest::newRow("helper's own text") << QStringLiteral("Error getting arguments.")
                                           << QStringLiteral("Kernel module switch error: Error getting arguments.");
        QTest::newRow("refused authorisation") << QStringLiteral("Authorization denied.")
                                               << QStringLiteral("Kernel module switch error: Authorization denied.");
        QTest::newRow("no text at all") << QString() << QStringLiteral("Kernel module switch error: Unknown error");
    }
    void saveFailure()
    {
        QFETCH(QString, helperText);
        QFETCH(QString, shown);

        auto module = openFilled({makeAdapter(nvidiaSpec())});
        child<QComboBox>(module.get(), "kernelModuleBox")->setCurrentIndex(2);
        m_helper->reply = {false, helperText, 0, QString()};

        DialogAnswerer answerer(DialogAnswerer::EveryDialog);
        module->save();

        QCOMPARE(answerer.seen.size(), 1);
        QVERIFY2(answerer.sawLabel(shown), qPrintable(answerer.seen.first().labels.join(QLatin1Char('|'))));
        QCOMPARE(m_reboots, 0);
        // The choice stays pending for another try.
        QCOMPARE(module->getCurrentGpu()->currentDriver().trueName, QStringLiteral("nouveau"));
        QCOMPARE(module->getCurrentGpu()->newDriver().trueName, QStringLiteral("nvidia_drm"));
        QCOMPARE(child<QComboBox>(module.get(), "kernelModuleBox")->itemText(0), QStringLiteral("nouveau (current)"));
    }

    // What the real runner reports: KAuth's error code, and the job's own text when it had one.
    void saveFailureWithCode_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("jobText");
        QTest::addColumn<QString>("shown");

        QTest::newRow("refused, no text") << 4 << QString() << QStringLiteral("Kernel module switch error: Authorization denied.");
        QTest::newRow("prompt cancelled, no text") << 5 << QString() << QStringLiteral("Kernel module switch error: Cancelled by user.");
        QTest::newRow("D-Bus error with text") << 8 << QStringLiteral("DBus Backend error: could not contact the helper.")
                                               << QStringLiteral("Kernel module switch error: DBus Backend error: could not contact the helper.");
        QTest::newRow("helper error") << -1 << QStringLiteral("Error getting arguments.")
                                      << QStringLiteral("Kernel module switch error: Error getting arguments.");
        QTest::newRow("unknown code, no text") << 42 << QString() << QStringLiteral("Kernel module switch error: Unknown error");
    }
    void saveFailureWithCode()
    {
        QFETCH(int, code);
        QFETCH(QString, jobText);
        QFETCH(QString, shown);

        auto module = openFilled({makeAdapter(nvidiaSpec())});
        child<QComboBox>(module.get(), "kernelModuleBox")->setCurrentIndex(1);
        // The runner's own fallback text must not be what the module shows.
        m_helper->reply = {false, QStringLiteral("runner's fallback text"), code, jobText};

        DialogAnswerer answerer(DialogAnswerer::EveryDialog);
        module->save();

        QCOMPARE(answerer.seen.size(), 1);
        QVERIFY2(answerer.sawLabel(shown), qPrintable(answerer.seen.first().labels.join(QLatin1Char('|'))));
        QCOMPARE(m_reboots, 0);
        QCOMPARE(module->getCurrentGpu()->currentDriver().trueName, QStringLiteral("nouveau"));
    }

    void load_data()
    {
        QTest::addColumn<bool>("expert");
        QTest::newRow("expert settings off") << false;
        QTest::newRow("expert settings on") << true;
    }
    void load()
    {
        QFETCH(bool, expert);

        AdapterSpec intel = intelSpec();
        intel.modules.append(QStringLiteral("xe"));
        auto module = openFilled({makeAdapter(intel), makeAdapter(nvidiaSpec())}, QStringLiteral("nvidia"));
        auto *gpuBox = child<QComboBox>(module.get(), "gpuBox");
        QCOMPARE(gpuBox->currentIndex(), 1);
        child<QComboBox>(module.get(), "kernelModuleBox")->setCurrentIndex(1);
        child<QGroupBox>(module.get(), "xorgGroup")->setChecked(expert);
        const QStringList xorgBefore = itemTexts(child<QComboBox>(module.get(), "xorgDriverBox"));

        module->load();

        QCOMPARE(gpuBox->currentIndex(), 0);
        QCOMPARE(module->getCurrentGpu()->sysfsBusId(), intel.busId);
        QCOMPARE(child<QLabel>(module.get(), "gpuVendor")->text(), QStringLiteral("Vendor: Intel Corporation"));
        QCOMPARE(itemTexts(child<QComboBox>(module.get(), "kernelModuleBox")), (QStringList{QStringLiteral("i915 (current)"), QStringLiteral("xe")}));
        QCOMPARE(module->getCurrentGpu()->newDriver().trueName, QStringLiteral("i915"));
        const QStringList xorgAfter = itemTexts(child<QComboBox>(module.get(), "xorgDriverBox"));
        if (expert) {
            // The Intel adapter does not render here, so nothing is marked current.
            QCOMPARE(xorgAfter, (QStringList{QStringLiteral("fbdev"), QStringLiteral("modesetting"), QStringLiteral("nouveau")}));
        } else {
            QCOMPARE(xorgAfter, xorgBefore);
        }
        // A later save goes out for the adapter now shown.
        module->save();
        QCOMPARE(m_helper->calls.size(), 1);
        QCOMPARE(m_helper->calls.first().args.value(QStringLiteral("busId")).toString(), intel.busId);
    }

    void gpuInfoDialog()
    {
        auto module = openFilled({makeAdapter(intelSpec())});
        DialogAnswerer answerer(DialogAnswerer::EveryDialog);
        QTest::mouseClick(child<QPushButton>(module.get(), "gpuInfo"), Qt::LeftButton);
        QCOMPARE(answerer.seen.size(), 1);
        QCOMPARE(answerer.seen.first().className, QStringLiteral("GpuInfo"));
        QCOMPARE(answerer.seen.first().parent.data(), module.get());
    }

    void getError_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("no error code") << 0 << QStringLiteral("Unknown error");
        QTest::newRow("no responder") << 1 << QStringLiteral("The helper responder object hasn't been set.");
        QTest::newRow("denied") << 4 << QStringLiteral("Authorization denied.");
        QTest::newRow("cancelled") << 5 << QStringLiteral("Cancelled by user.");
        QTest::newRow("busy") << 6 << QStringLiteral("The helper is busy performing another action.");
        QTest::newRow("D-Bus") << 8 << QStringLiteral("An error from D-Bus occurred.");
        QTest::newRow("backend") << 9 << QStringLiteral("The underlying backend reported an error.");
        QTest::newRow("past the last") << 10 << QStringLiteral("Unknown error");
        QTest::newRow("helper error") << -1 << QStringLiteral("Unknown error");
    }
    void getError()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        auto module = openFilled({makeAdapter(intelSpec())});
        QCOMPARE(module->getError(code), text);
    }

    void cleanupTestCase()
    {
        QThreadPool::globalInstance()->waitForDone();
    }
};

QTEST_MAIN(MainModuleTest)
#include "mainmoduletest.moc"
