// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The control module on a made-up machine: the real probe (libhd, libpci, module tree, DRM
// links, X log, X driver folders of autotests/harness/gpu-fixture.sh) fills the window, and the
// save goes through the real KAuth round trip to the staged helper on a private system bus
// (kauth-fixture-ns.sh and kauth-bus.sh). Only the renderer name and the reboot prompt are
// injected. CTest starts each group of cases in its harness (see CMakeLists.txt); the machine:
//   0000:00:02.0  Intel UHD 620 on i915 (i915.ko declares "i915"), DRM node, X log "modeset"
//   0000:0a:00.0  an adapter libhd knows no module for (must not be listed)
//   0000:0b:00.0  NVIDIA GTX 1060 bound to nvidia; modules nouveau (nouveau.ko declares
//                 "nouveau-kms") and Debian's nvidia_current and nvidia_current_drm
//                 (updates/dkms/nvidia-current*.ko from nvidia-kernel-dkms 535.309.01, which
//                 declare "nvidia" and "nvidia_drm")
//   X driver folders: 1 nouveau, 2 modesetting, 3 nvidia (one each keeps the walk order fixed)
#include "../helper/fixturefs.h"
#include "device.h"
#include "helperclient.h"
#include "mainmodule.h"
#include "visibleskip.h"

#include "dialoganswerer.h"
#include "widgetlookup.h"

#include <KAuth/ActionReply>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include <memory>
#include <unistd.h>

namespace
{
const QString snippetPath = QStringLiteral("/etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf");
const QString intelItem = QStringLiteral("PCI:00@0000:02:0: UHD Graphics 620");
const QString nvidiaItem = QStringLiteral("PCI:0b@0000:00:0: GP106 [GeForce GTX 1060 6GB]");
const QString intelRenderer = QStringLiteral("Mesa Intel(R) UHD Graphics 620 (KBL GT2)");
const QString nvidiaRenderer = QStringLiteral("NVIDIA GeForce GTX 1060 6GB/PCIe/SSE2");
const QString softwareRenderer = QStringLiteral("llvmpipe (LLVM 15.0.6, 256 bits)");

// The X configuration the helper must write for an NVIDIA adapter on bus 0b.
QByteArray nvidiaSnippet(const QString &driver)
{
    const QString module = driver == QLatin1String("nvidia") ? QStringLiteral("modesetting") : driver;
    return QStringLiteral(
               "Section \"Module\"\n   Load \"%1\"\nEndSection\n\n"
               "Section \"Device\"\n    Identifier \"GP106 [GeForce GTX 1060 6GB]\"\n    Driver \"%2\"\n"
               "    BusID \"PCI:11@0000:00:0\"\n    Option \"AllowEmptyInitialConfiguration\"\nEndSection\n\n")
        .arg(module, driver)
        .toLatin1();
}
}

class MainModuleMachineTest : public QObject
{
    Q_OBJECT

    int m_reboots = 0;
    QString m_rebootNote;

    // The host's services, with the renderer and the reboot prompt swapped for the test's.
    MainModule::Services services(const QString &renderer)
    {
        MainModule::Services s = MainModule::Services::system();
        s.renderer = [renderer] {
            return renderer;
        };
        s.rebootPrompt = [this](const QString &note) {
            ++m_reboots;
            m_rebootNote = note;
        };
        return s;
    }

    std::unique_ptr<MainModule> openFilled(const QString &renderer)
    {
        auto module = std::make_unique<MainModule>(nullptr, QVariantList(), services(renderer));
        module->show();
        // The real probe starts programs for every module file; give it time.
        if (!QTest::qWaitFor(
                [&] {
                    return child<QComboBox>(module.get(), "gpuBox")->isEnabled();
                },
                30000)) {
            qWarning("the window was never filled");
        }
        return module;
    }

    static void chooseModule(MainModule *module, const QString &name)
    {
        auto *box = child<QComboBox>(module, "kernelModuleBox");
        const int row = box->findData(name);
        QVERIFY2(row >= 0, qPrintable(name));
        box->setCurrentIndex(row);
    }

    static bool onBus()
    {
        return !qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS") && FixtureFs::insideFixtureNamespace();
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The cases read and write the real system paths: refuse anywhere but on the made-up machine.
        if (qEnvironmentVariableIsEmpty("GPU_FIXTURE")) {
            QFAIL("runs only inside autotests/harness/gpu-fixture.sh (ctest starts it there)");
        }
    }

    void init()
    {
        m_reboots = 0;
        m_rebootNote.clear();
        if (onBus() && ::geteuid() == 0) {
            FixtureFs::clear(QStringLiteral("/etc/X11/xorg.conf.d"));
        }
    }

    void filling_data()
    {
        QTest::addColumn<QString>("renderer");
        QTest::addColumn<int>("shown");
        QTest::addColumn<QString>("vendor");
        QTest::addColumn<QStringList>("modules");
        QTest::addColumn<int>("moduleRow");
        QTest::addColumn<QStringList>("xorgDrivers");
        QTest::addColumn<int>("xorgRow");
        QTest::addColumn<QString>("version");

        // Intel renders: its X log tag "modeset" picks modesetting; every driver is listed.
        QTest::newRow("Intel renders") << intelRenderer << 0 << QStringLiteral("Intel Corporation") << QStringList{QStringLiteral("i915 (current)")} << 0
                                       << QStringList{QStringLiteral("nouveau"), QStringLiteral("modesetting (current)"), QStringLiteral("nvidia")} << 1
                                       << QStringLiteral("unknown");
        // NVIDIA renders: nvidia_current is current because the bound driver equals
        // nvidia-current.ko's declared name "nvidia"; without a DRM node its X driver is unknown.
        QTest::newRow("NVIDIA renders") << nvidiaRenderer << 1 << QStringLiteral("nVidia Corporation")
                                        << QStringList{QStringLiteral("nouveau"),
                                                       QStringLiteral("nvidia_current (current)"),
                                                       QStringLiteral("nvidia_current_drm")}
                                        << 1 << QStringList{QStringLiteral("nouveau"), QStringLiteral("modesetting"), QStringLiteral("nvidia")} << -1
                                        << QStringLiteral("535.309.01");
        // A software renderer names no adapter: the first is shown and none counts as active.
        QTest::newRow("software renderer") << softwareRenderer << 0 << QStringLiteral("Intel Corporation") << QStringList{QStringLiteral("i915 (current)")} << 0
                                           << QStringList{QStringLiteral("nouveau"), QStringLiteral("modesetting"), QStringLiteral("nvidia")} << -1
                                           << QStringLiteral("unknown");
    }
    void filling()
    {
        QFETCH(QString, renderer);
        QFETCH(int, shown);
        QFETCH(QString, vendor);
        QFETCH(QStringList, modules);
        QFETCH(int, moduleRow);
        QFETCH(QStringList, xorgDrivers);
        QFETCH(int, xorgRow);
        QFETCH(QString, version);

        auto module = openFilled(renderer);
        const auto *gpuBox = child<QComboBox>(module.get(), "gpuBox");
        QVERIFY(gpuBox->isEnabled());
        // Probe order; the adapter without modules is left out.
        QCOMPARE(itemTexts(gpuBox), (QStringList{intelItem, nvidiaItem}));
        QCOMPARE(gpuBox->itemData(0).toInt(), 0);
        QCOMPARE(gpuBox->itemData(1).toInt(), 1);
        QCOMPARE(gpuBox->currentIndex(), shown);

        const auto *moduleBox = child<QComboBox>(module.get(), "kernelModuleBox");
        QCOMPARE(itemTexts(moduleBox), modules);
        QCOMPARE(moduleBox->currentIndex(), moduleRow);
        QVERIFY(moduleBox->isEnabled());

        const auto *xorgBox = child<QComboBox>(module.get(), "xorgDriverBox");
        QCOMPARE(itemTexts(xorgBox), xorgDrivers);
        QCOMPARE(xorgBox->currentIndex(), xorgRow);
        QVERIFY(!xorgBox->isEnabled()); // under "Expert settings", unticked
        child<QGroupBox>(module.get(), "xorgGroup")->setChecked(true);
        QVERIFY(xorgBox->isEnabled());

        QCOMPARE(child<QLabel>(module.get(), "gpuVendor")->text(), QStringLiteral("Vendor: ") + vendor);
        // The made-up i915.ko declares no version; Debian's nvidia-current.ko does.
        QCOMPARE(child<QLabel>(module.get(), "kernelModuleVersion")->text(), QStringLiteral("Version module: ") + version);
    }

    // The module information names a module by the name its file declares and shows modinfo's
    // account of the file that was found.
    void moduleInfoShowsDeclaredName_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("nouveau") << QStringLiteral("nouveau") << QStringLiteral("nouveau-kms")
                                 << QStringList{QStringLiteral("filename: /usr/lib/modules/%1/kernel/drivers/gpu/drm/nouveau/nouveau.ko")};
        QTest::newRow("Debian's nvidia_current") << QStringLiteral("nvidia_current") << QStringLiteral("nvidia")
                                                 << QStringList{QStringLiteral("filename: /usr/lib/modules/%1/updates/dkms/nvidia-current.ko"),
                                                                QStringLiteral("version: 535.309.01"),
                                                                QStringLiteral("license: NVIDIA"),
                                                                QStringLiteral("name: nvidia")};
    }
    void moduleInfoShowsDeclaredName()
    {
        QFETCH(QString, choice);
        QFETCH(QString, title);
        QFETCH(QStringList, lines);
        auto module = openFilled(nvidiaRenderer);
        QCOMPARE(child<QComboBox>(module.get(), "gpuBox")->currentText(), nvidiaItem);
        chooseModule(module.get(), choice);
        DialogAnswerer answerer(DialogAnswerer::EveryDialog);
        QTest::mouseClick(child<QPushButton>(module.get(), "kernelModuleInfo"), Qt::LeftButton);
        QCOMPARE(answerer.seen.size(), 1);
        const DialogAnswerer::Seen &dialog = answerer.seen.first();
        QCOMPARE(dialog.className, QStringLiteral("ModuleInfo"));
        QVERIFY2(dialog.texts.contains(title), qPrintable(answerer.describe()));
        const QStringList shown = dialog.texts.join(QLatin1Char('\n')).split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            const QString expected = line.contains(QLatin1String("%1")) ? line.arg(QSysInfo::kernelVersion()) : line;
            QVERIFY2(shown.contains(expected), qPrintable(expected + QStringLiteral(" in:\n") + answerer.describe()));
        }
    }

    void saveRoundTrip_data()
    {
        QTest::addColumn<bool>("expert");
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QStringList>("modulesAfter");

        QTest::newRow("kernel module") << false << QStringLiteral("nouveau") << QStringLiteral("nouveau")
                                       << QStringList{QStringLiteral("nouveau (current)"),
                                                      QStringLiteral("nvidia_current"),
                                                      QStringLiteral("nvidia_current_drm")};
        // Debian's module: no nvidia_current_drv.so, so its declared name's X driver is written.
        QTest::newRow("Debian's nvidia_current") << false << QStringLiteral("nvidia_current") << QStringLiteral("nvidia")
                                                 << QStringList{QStringLiteral("nouveau"),
                                                                QStringLiteral("nvidia_current (current)"),
                                                                QStringLiteral("nvidia_current_drm")};
        // Neither nvidia_current_drm_drv.so nor nvidia_drm_drv.so: the module's family driver.
        QTest::newRow("kernel module without an X driver of its names")
            << false << QStringLiteral("nvidia_current_drm") << QStringLiteral("nvidia")
            << QStringList{QStringLiteral("nouveau"), QStringLiteral("nvidia_current"), QStringLiteral("nvidia_current_drm (current)")};
        // The module choice stays as it was; the X driver goes to the helper.
        QTest::newRow("expert: X driver") << true << QStringLiteral("modesetting") << QStringLiteral("modesetting")
                                          << QStringList{QStringLiteral("nouveau"),
                                                         QStringLiteral("nvidia_current (current)"),
                                                         QStringLiteral("nvidia_current_drm")};
    }
    void saveRoundTrip()
    {
        QFETCH(bool, expert);
        QFETCH(QString, choice);
        QFETCH(QString, written);
        QFETCH(QStringList, modulesAfter);
        if (!onBus() || ::geteuid() != 0) {
            TEST_SKIP("needs root on the private system bus of kauth-bus.sh inside kauth-fixture-ns.sh");
        }
        QVERIFY(QFileInfo::exists(QStringLiteral("/usr/lib/kauth/libexec/videodriver-helper")));

        auto module = openFilled(nvidiaRenderer);
        QCOMPARE(child<QComboBox>(module.get(), "gpuBox")->currentText(), nvidiaItem);
        if (expert) {
            child<QGroupBox>(module.get(), "xorgGroup")->setChecked(true);
            auto *box = child<QComboBox>(module.get(), "xorgDriverBox");
            const int row = box->findData(choice);
            QVERIFY(row >= 0);
            box->setCurrentIndex(row);
            Q_EMIT box->activated(row);
        } else {
            chooseModule(module.get(), choice);
        }

        DialogAnswerer answerer(DialogAnswerer::EveryDialog);
        module->save();

        QVERIFY2(answerer.seen.isEmpty(), qPrintable(answerer.describe()));
        QCOMPARE(FixtureFs::read(snippetPath), nvidiaSnippet(written));
        QCOMPARE(m_reboots, 1);
        const QString pendingModule = module->getCurrentGpu()->currentDriver().trueName;
        QCOMPARE(m_rebootNote.isEmpty(), written == pendingModule);
        if (written != pendingModule) {
            QCOMPARE(m_rebootNote, QStringLiteral("The X server driver \"%1\" was written for the kernel module \"%2\".").arg(written, pendingModule));
        }
        QCOMPARE(itemTexts(child<QComboBox>(module.get(), "kernelModuleBox")), modulesAfter);
        QCOMPARE(child<QComboBox>(module.get(), "kernelModuleBox")->currentText(), modulesAfter.filter(QStringLiteral(" (current)")).value(0));
    }

    // The helper refuses a driver without an X driver file (here removed after the window
    // listed it, as a package removal meanwhile would); its own words reach the box.
    void helperErrorShown()
    {
        if (!onBus() || ::geteuid() != 0) {
            TEST_SKIP("needs root on the private system bus of kauth-bus.sh inside kauth-fixture-ns.sh");
        }
        auto module = openFilled(nvidiaRenderer);
        child<QGroupBox>(module.get(), "xorgGroup")->setChecked(true);
        auto *box = child<QComboBox>(module.get(), "xorgDriverBox");
        const int row = box->findData(QStringLiteral("nouveau"));
        QVERIFY(row >= 0);
        box->setCurrentIndex(row);
        Q_EMIT box->activated(row);
        QVERIFY(QFile::remove(QStringLiteral("/usr/lib/x86_64-linux-gnu/xorg/modules/drivers/nouveau_drv.so")));

        DialogAnswerer answerer(DialogAnswerer::EveryDialog);
        module->save();

        QCOMPARE(answerer.seen.size(), 1);
        QCOMPARE(answerer.seen.first().parent.data(), module.get());
        QVERIFY2(answerer.seen.first().texts.contains(
                     QStringLiteral("Kernel module switch error: The XOrg driver \"nouveau\" is not installed: no nouveau_drv.so in the XOrg driver folders.")),
                 qPrintable(answerer.describe()));
        QVERIFY(!QFileInfo::exists(snippetPath));
        QCOMPARE(m_reboots, 0);
        // The choice stays pending.
        QCOMPARE(module->getCurrentGpu()->xorgDriver(), QStringLiteral("nouveau"));
    }

    // Started as an unprivileged user: polkit refuses, KAuth gives no text of its own, so the box
    // shows the text for the refusal's error code.
    void refusedSave()
    {
        if (!onBus() || ::geteuid() == 0) {
            TEST_SKIP("needs an unprivileged user on the private system bus of kauth-bus.sh inside kauth-fixture-ns.sh");
        }
        auto module = openFilled(nvidiaRenderer);
        chooseModule(module.get(), QStringLiteral("nouveau"));

        DialogAnswerer answerer(DialogAnswerer::EveryDialog);
        module->save();

        QCOMPARE(answerer.seen.size(), 1);
        QVERIFY2(answerer.seen.first().texts.contains(QStringLiteral("Kernel module switch error: Authorization denied.")), qPrintable(answerer.describe()));
        QVERIFY(!QFileInfo::exists(snippetPath));
        QCOMPARE(m_reboots, 0);
        QCOMPARE(module->getCurrentGpu()->currentDriver().trueName, QStringLiteral("nvidia_current"));
        QCOMPARE(module->getCurrentGpu()->newDriver().trueName, QStringLiteral("nouveau"));
    }

    void cleanupTestCase()
    {
        QThreadPool::globalInstance()->waitForDone();
    }
};

VISIBLE_SKIP_MAIN(MainModuleMachineTest)
#include "mainmodulemachinetest.moc"
