// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "intelhardwareaccelerationpage.h"
#include "ui_intelhardwareaccelerationpage.h"

#include <KLocalizedString>

IntelHardwareAccelerationPage::IntelHardwareAccelerationPage(const QList<Device> &devices, QWidget *parent)
    : IntelHardwareAccelerationPage(devices, nullptr, parent)
{
}

IntelHardwareAccelerationPage::IntelHardwareAccelerationPage(const QList<Device> &devices, IHelperRunner *runner, QWidget *parent)
    : ISettingsPage(parent)
    , ui(new Ui_IntelHardwareAccelerationPage)
    , m_configurator(runner)
{
    ui->setupUi(this);
    m_intelPresent = std::any_of(devices.begin(), devices.end(), [](const Device &device) {
        return device.videoCardVendorId() == VideoCardVendorId::Intel;
    });
    if (!m_intelPresent) {
        ui->groupBox->setEnabled(false);
        return;
    }
    ui->messageIntelNotAvailable->hide();

    // i915.enable_guc is a bit mask: 1 is GuC submission, 2 HuC firmware loading.
    const QList<GucOption> options = {
        {GucMode::Disabled, gucModeLabel(GucMode::Disabled), i18n("Disables GuC and HuC. Uses the software scheduler (CPU).")},
        {GucMode::SubmissionOnly, gucModeLabel(GucMode::SubmissionOnly), i18n("Uses GuC for hardware scheduling, but HuC remains disabled.")},
        {GucMode::LoadFirmwareOnly,
         gucModeLabel(GucMode::LoadFirmwareOnly),
         i18n("Loads the HuC firmware for video processing, but does not use GuC for scheduling.")},
        {GucMode::FullGucHuc, gucModeLabel(GucMode::FullGucHuc), i18n("Enables GuC for hardware scheduling and HuC for video processing.")},
    };
    for (const GucOption &option : options) {
        ui->gucModeComboBox->addItem(option.name, QVariant::fromValue(option.mode));
        ui->gucModeComboBox->setItemData(ui->gucModeComboBox->count() - 1, option.description, Qt::ToolTipRole);
    }

    loadSettings();

    connect(ui->expertModeChBox, &QCheckBox::clicked, this, &IntelHardwareAccelerationPage::modeChanged);
    connect(ui->intelAccelChbox, &QCheckBox::clicked, this, [this] {
        // A partial mark only describes the boot loader defaults; a click means all or nothing.
        if (ui->intelAccelChbox->checkState() == Qt::PartiallyChecked) {
            ui->intelAccelChbox->setCheckState(Qt::Checked);
        }
        reportModified();
    });
    connect(ui->bufferComperessChBox, &QCheckBox::toggled, this, &IntelHardwareAccelerationPage::reportModified);
    connect(ui->gucModeComboBox, qOverload<int>(&QComboBox::currentIndexChanged), this, &IntelHardwareAccelerationPage::reportModified);
}

IntelHardwareAccelerationPage::~IntelHardwareAccelerationPage()
{
    delete ui;
}

void IntelHardwareAccelerationPage::reportModified()
{
    Q_EMIT modifiedChanged(isModified());
}

void IntelHardwareAccelerationPage::loadSettings() const
{
    const bool accelerated = m_configurator.isHardwareAccelerationEnabled();
    const GucMode guc = m_configurator.gucMode();
    const bool fbc = m_configurator.fbcIsEnable();
    if (accelerated) {
        ui->intelAccelChbox->setCheckState(Qt::Checked);
    } else if (guc == GucMode::FullGucHuc || fbc) {
        ui->intelAccelChbox->setCheckState(Qt::PartiallyChecked);
    } else {
        ui->intelAccelChbox->setCheckState(Qt::Unchecked);
    }
    int row = 0;
    for (int i = 0; i < ui->gucModeComboBox->count(); ++i) {
        if (ui->gucModeComboBox->itemData(i).value<GucMode>() == guc) {
            row = i;
            break;
        }
    }
    ui->gucModeComboBox->setCurrentIndex(row);
    ui->bufferComperessChBox->setChecked(fbc);
}

bool IntelHardwareAccelerationPage::expertPageShown() const
{
    return ui->stackedWidget->currentIndex() == 1;
}

GucMode IntelHardwareAccelerationPage::selectedGucMode() const
{
    const QVariant data = ui->gucModeComboBox->currentData();
    return data.canConvert<GucMode>() ? data.value<GucMode>() : GucMode::Disabled;
}

bool IntelHardwareAccelerationPage::isModified() const
{
    if (!m_intelPresent) {
        return false;
    }
    if (!expertPageShown()) {
        return (ui->intelAccelChbox->checkState() == Qt::Checked) != m_configurator.isHardwareAccelerationEnabled();
    }
    return ui->bufferComperessChBox->isChecked() != m_configurator.fbcIsEnable() || selectedGucMode() != m_configurator.gucMode();
}

SaveResult IntelHardwareAccelerationPage::saveSettings()
{
    if (!m_intelPresent) {
        return {SaveStatus::NoChanges, QString()};
    }
    QString error;
    if (!expertPageShown()) {
        const bool wanted = ui->intelAccelChbox->checkState() != Qt::Unchecked;
        if (wanted != m_configurator.isHardwareAccelerationEnabled()) {
            error = m_configurator.setHardwareAccelerationEnabled(wanted);
        }
    } else {
        // Both steps run; the GuC step's failure, when there is one, is the one reported.
        if (ui->bufferComperessChBox->isChecked() != m_configurator.fbcIsEnable()) {
            error = m_configurator.setFbcMode(ui->bufferComperessChBox->isChecked());
        }
        const GucMode guc = selectedGucMode();
        if (guc != m_configurator.gucMode()) {
            const QString gucError = m_configurator.setGucMode(guc);
            if (!gucError.isEmpty()) {
                error = gucError;
            }
        }
    }
    if (!error.isEmpty()) {
        return {SaveStatus::Error, error};
    }
    return {SaveStatus::SuccessRebootRequired, QString()};
}

void IntelHardwareAccelerationPage::reset()
{
    if (m_intelPresent) {
        loadSettings();
    }
    // Putting back a partial mark emits no click, and an unchanged combo box nothing at all.
    reportModified();
}

void IntelHardwareAccelerationPage::modeChanged(bool expert)
{
    ui->stackedWidget->setCurrentIndex(expert ? 1 : 0);
    // Each page compares its own controls, so the modified state may change with the page.
    reportModified();
}
