// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainmodule.h"
#include "advanced/advancedsettingsdialog.h"
#include "dialogs/driverprogress.h"
#include "dialogs/gpuinfo.h"
#include "dialogs/moduleinfo.h"
#include "driverselection.h"
#include "helperclient.h"
#include "kcm_debug.h"
#include "systempaths.h"
#include "ui_mainmodule.h"
#include "xorgdrivers.h"

#include <KLocalizedString>
#include <KMessageBox>

#include <QFutureWatcher>
#include <QSignalBlocker>
#include <QThreadPool>
#include <QtConcurrent>

MainModule::Services MainModule::Services::system()
{
    Services services;
    services.probe = &::getGpus;
    services.helper = std::make_shared<KAuthHelperRunner>();
    services.rebootPrompt = [](const QString &note) {
        DriverProgress::rebootRequest(note);
    };
    services.moduleVersion = &ModuleInfo::version;
    services.renderer = &GpuInfo::currentRenderer;
    services.xorgDriverDirs = SystemPaths::xorgDriverDirs();
    services.packageDialogs = PackageDialogServices::system();
    return services;
}

MainModule::MainModule(QWidget *parent, const QList<QVariant> &args)
    : MainModule(parent, args, Services::system())
{
}

MainModule::MainModule(QWidget *parent, const QList<QVariant> &args, Services services)
    : KCModule(parent, args)
    , ui(new Ui_MainModule)
    , m_services(std::move(services))
{
    ui->setupUi(this);
    setButtons(KCModule::Help | KCModule::Apply);
    setGuiEnabled(false);

    // The probe walks the module tree and starts external programs: seconds of work that must
    // not freeze the window. The worker gets its own copy of the probe, so a module closed
    // while probing leaves nothing dangling.
    initWatcher = new QFutureWatcher<QList<Device>>(this);
    connect(initWatcher, &QFutureWatcher<QList<Device>>::finished, this, &MainModule::initUi);
    const auto probe = m_services.probe;
    initWatcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [probe] {
        return probe();
    }));
}

MainModule::~MainModule()
{
    delete ui;
}

QList<Device> MainModule::getGpus() const
{
    return m_services.probe();
}

Device *MainModule::getCurrentGpu()
{
    return &gpus[m_currentGpuIndex];
}

void MainModule::setGuiEnabled(bool enabled) const
{
    ui->gpuBox->setEnabled(enabled);
    ui->kernelModuleBox->setEnabled(enabled);
    ui->gpuLabel->setEnabled(enabled);
    ui->kernelModuleLabel->setEnabled(enabled);
    ui->gpuInfo->setEnabled(enabled);
    ui->kernelModuleInfo->setEnabled(enabled);
    ui->xorgGroup->setEnabled(enabled);
    ui->installDrivers->setEnabled(enabled);
    ui->removeDrivers->setEnabled(enabled);
    ui->tweaks->setEnabled(enabled);
}

void MainModule::initUi()
{
    gpus = initWatcher->result();
    if (gpus.isEmpty()) {
        qCWarning(KCM_VIDEODRIVER) << "The probe found no adapter with a known kernel module";
        KMessageBox::error(this, i18n("Couldn't find any GPUs"), QString());
        return;
    }

    activeCardDetected();
    for (int i = 0; i < gpus.size(); ++i) {
        ui->gpuBox->addItem(DriverSelection::adapterItemText(gpus.at(i)), i);
    }
    m_currentGpuIndex = DriverSelection::initialAdapterIndex(gpus);
    ui->gpuBox->setCurrentIndex(m_currentGpuIndex);
    updateKernelModuleBox();
    updateXOrgDriverBox();
    showAdapterDetails();

    // Connected only now, so that filling the window reports no change to the host.
    connect(ui->gpuBox, &QComboBox::currentTextChanged, this, &MainModule::gpuChangedHandler);
    connect(ui->kernelModuleBox, &QComboBox::currentTextChanged, this, &MainModule::kernelModuleChangedHandler);
    connect(ui->xorgDriverBox, qOverload<int>(&QComboBox::activated), this, &MainModule::xorgDriverChosen);
    connect(ui->gpuInfo, &QPushButton::clicked, this, &MainModule::showGpuInfo);
    connect(ui->kernelModuleInfo, &QPushButton::clicked, this, &MainModule::showModuleInfo);
    connect(ui->installDrivers, &QPushButton::clicked, this, &MainModule::showDriverInstaller);
    connect(ui->removeDrivers, &QPushButton::clicked, this, &MainModule::showDriverRemover);
    connect(ui->tweaks, &QPushButton::clicked, this, &MainModule::showAdvancedSettings);

    setGuiEnabled(true);
    initWatcher->deleteLater();
    initWatcher = nullptr;

    // The filled state as the widgets hold it, for bug reports and the Xvfb smoke test.
    QStringList adapters;
    for (int i = 0; i < ui->gpuBox->count(); ++i) {
        adapters.append(ui->gpuBox->itemText(i));
    }
    qCDebug(KCM_VIDEODRIVER).noquote().nospace() << "Window filled: " << adapters.size() << " adapters (" << adapters.join(QStringLiteral("; "))
                                                 << "), kernel module box " << (ui->kernelModuleBox->isEnabled() ? "enabled" : "disabled") << " on \""
                                                 << ui->kernelModuleBox->currentText() << "\"";
}

void MainModule::activeCardDetected()
{
    const QString renderer = m_services.renderer ? m_services.renderer() : QString();
    qCDebug(KCM_VIDEODRIVER) << "Renderer:" << renderer;
    DriverSelection::markActiveAdapters(gpus, renderer);
}

void MainModule::updateKernelModuleBox()
{
    ui->kernelModuleBox->clear();
    const DriverSelection::ListFill fill = DriverSelection::kernelModuleList(*getCurrentGpu());
    for (const XOrgDrivers::Entry &entry : fill.entries) {
        ui->kernelModuleBox->addItem(entry.label, entry.value);
    }
    ui->kernelModuleBox->setCurrentIndex(fill.selected);
}

void MainModule::updateXOrgDriverBox()
{
    ui->xorgDriverBox->clear();
    Device *device = getCurrentGpu();
    const XOrgDrivers::ScanResult scan = XOrgDrivers::scan(*device, m_services.xorgDriverDirs);
    for (const XOrgDrivers::Entry &entry : scan.entries) {
        ui->xorgDriverBox->addItem(entry.label, entry.value);
    }
    if (scan.selected >= 0) {
        // The X log names the driver by its tag ("modeset"); keep the full name from now on.
        device->updateXOrgDriver(scan.entries.at(scan.selected).value);
    }
    ui->xorgDriverBox->setCurrentIndex(scan.selected);
}

QString MainModule::versionText(const Module &module) const
{
    const QString version = m_services.moduleVersion ? m_services.moduleVersion(module.path) : QString();
    return i18n("Version module: %1", version);
}

void MainModule::showAdapterDetails()
{
    const Device *device = getCurrentGpu();
    ui->gpuVendor->setText(i18n("Vendor: %1", device->vendorName()));
    ui->kernelModuleVersion->setText(versionText(device->currentDriver()));
}

void MainModule::gpuChangedHandler(const QString &gpuName)
{
    Q_UNUSED(gpuName)
    bool ok = false;
    const int index = ui->gpuBox->currentData().toInt(&ok);
    if (!ok || index < 0 || index >= gpus.size()) {
        return;
    }
    m_currentGpuIndex = index;
    updateKernelModuleBox();
    updateXOrgDriverBox();
    showAdapterDetails();
}

void MainModule::kernelModuleChangedHandler(const QString &moduleName)
{
    Q_UNUSED(moduleName)
    const int row = ui->kernelModuleBox->currentIndex();
    const QString value = row < 0 ? QString() : ui->kernelModuleBox->itemData(row).toString();
    Device *device = getCurrentGpu();
    if (value == device->newDriver().trueName) {
        return;
    }
    device->setNewDriver(value);
    ui->kernelModuleVersion->setText(versionText(device->newDriver()));
    markAsChanged();
}

void MainModule::xorgDriverChosen(int row)
{
    const QString value = ui->xorgDriverBox->itemData(row).toString();
    Device *device = getCurrentGpu();
    if (value.isEmpty() || value == device->xorgDriver()) {
        return;
    }
    device->updateXOrgDriver(value);
    markAsChanged();
}

QString MainModule::getError(int code) const
{
    return HelperClient::errorTextForCode(code);
}

void MainModule::save()
{
    if (gpus.isEmpty() || !m_services.helper) {
        return;
    }
    const Device device = *getCurrentGpu();
    // Without "Expert settings" the request carries the X driver that goes with the chosen
    // kernel module.
    const QComboBox *xorgBox = ui->xorgDriverBox;
    const bool expert = ui->xorgGroup->isChecked() && xorgBox->currentIndex() >= 0;
    const QString xorgDriver = expert ? xorgBox->itemData(xorgBox->currentIndex()).toString() : QString();
    const HelperRequest request = HelperRequests::replace(device, xorgDriver, HelperRequests::VendorArgument::Send, m_services.xorgDriverDirs);

    // Blocks in the job's own event loop: the window keeps painting, and KAuth may put up its
    // authentication prompt meanwhile.
    const HelperResult result = m_services.helper->send(request);
    if (!result.ok) {
        qCDebug(KCM_VIDEODRIVER).noquote().nospace() << "D-Bus helper error: " << result.jobErrorString;
        qCDebug(KCM_VIDEODRIVER).noquote().nospace() << "Error code: " << result.errorCode;
        qCDebug(KCM_VIDEODRIVER).noquote().nospace() << "Error text: " << result.errorText;
        // A job that failed without a text of its own (a refused authorisation, a cancelled
        // prompt) is named by its error code. Runners that know no code give their text.
        QString detail = result.errorCode != 0 ? result.jobErrorString : result.errorText;
        if (detail.isEmpty()) {
            detail = getError(result.errorCode);
        }
        KMessageBox::error(this, i18n("Kernel module switch error: %1", detail), QString());
        return;
    }

    getCurrentGpu()->updateCurrentDriver();
    updateKernelModuleBox();
    // i915 or vmwgfx have no X driver of their own name: say which one X will use.
    const QString written = request.arguments.value(QStringLiteral("driver")).toString();
    const QString moduleName = device.newDriver().trueName;
    const QString note = written == moduleName ? QString() : i18n("The X server driver \"%1\" was written for the kernel module \"%2\".", written, moduleName);
    if (m_services.rebootPrompt) {
        m_services.rebootPrompt(note);
    }
}

void MainModule::load()
{
    m_currentGpuIndex = 0;
    if (gpus.isEmpty()) {
        return;
    }
    // Keep the adapter list showing the adapter the lists below now belong to.
    if (ui->gpuBox->isEnabled()) {
        const QSignalBlocker blocker(ui->gpuBox);
        ui->gpuBox->setCurrentIndex(0);
        showAdapterDetails();
    }
    if (ui->kernelModuleBox->isEnabled()) {
        updateKernelModuleBox();
    }
    if (ui->xorgDriverBox->isEnabled()) {
        updateXOrgDriverBox();
    }
}

void MainModule::showGpuInfo()
{
    GpuInfo dialog(this);
    dialog.updateInfo(*getCurrentGpu());
    dialog.exec();
}

void MainModule::showModuleInfo()
{
    const Module module = getCurrentGpu()->newDriver();
    ModuleInfo dialog(this);
    if (dialog.updateInfo(module.path, module.displayName)) {
        dialog.exec();
    }
}

void MainModule::showDriverInstaller()
{
    if (gpus.isEmpty()) {
        return;
    }
    const Device *gpu = getCurrentGpu();
    DriverInstaller dialog(gpu->modalias(), gpu->videoCardVendorId(), this, m_services.packageDialogs);
    dialog.exec();
}

void MainModule::showDriverRemover()
{
    if (gpus.isEmpty()) {
        return;
    }
    const Device *gpu = getCurrentGpu();
    const QString modulePath = gpu->driverList().isEmpty() ? QString() : gpu->currentDriver().path;
    DriverRemover dialog(gpu->modalias(), modulePath, this, m_services.packageDialogs);
    dialog.exec();
}

void MainModule::showAdvancedSettings()
{
    AdvancedSettingsDialog dialog(gpus, this);
    dialog.exec();
}
