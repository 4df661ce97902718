// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "tearingeffectpage.h"
#include "tearingmanager.h"
#include "ui_tearingeffectpage.h"

#include <KLocalizedString>

#include <QFutureWatcher>
#include <QSignalBlocker>
#include <QThreadPool>
#include <QtConcurrent>

namespace
{
Device activeDevice(const QList<Device> &devices)
{
    for (const Device &device : devices) {
        if (device.isActive()) {
            return device;
        }
    }
    return Device();
}

QString vendorMark(VideoCardVendorId vendor)
{
    switch (vendor) {
    case VideoCardVendorId::Nvidia:
        return QStringLiteral("(NVIDIA)");
    case VideoCardVendorId::Intel:
        return QStringLiteral("(Intel)");
    case VideoCardVendorId::Amd:
        return QStringLiteral("(AMD)");
    default:
        return i18n("unknown");
    }
}
}

TearingEffectPage::TearingEffectPage(const QList<Device> &devices, QWidget *parent)
    : TearingEffectPage(devices, nullptr, parent)
{
}

TearingEffectPage::TearingEffectPage(const QList<Device> &devices, TearingManager *manager, QWidget *parent)
    : ISettingsPage(parent)
    , ui(new Ui_TearingEffectPage)
    , m_devices(devices)
    , m_manager(manager)
    , m_tearingWatcher(new QFutureWatcher<bool>(this))
{
    ui->setupUi(this);
    const Device active = activeDevice(m_devices);
    if (m_manager) {
        m_manager->setParent(this);
    } else {
        m_manager = new TearingManager(active, this);
    }
    ui->driverLTearingabel->setText(i18n("Enable tearing prevention %1", vendorMark(active.videoCardVendorId())));
    showReasons();

    connect(m_tearingWatcher, &QFutureWatcher<bool>::finished, this, &TearingEffectPage::tearingStateRead);
    readStates();

    connect(ui->driverTearingCheckBox, &QCheckBox::toggled, this, &TearingEffectPage::onSettingsChanged);
    connect(ui->picomCheckBox, &QCheckBox::toggled, this, &TearingEffectPage::onSettingsChanged);
}

TearingEffectPage::~TearingEffectPage()
{
    // A query still running finishes on its own; it holds nothing of the page.
    m_tearingWatcher->disconnect(this);
    delete ui;
}

void TearingEffectPage::showReasons()
{
    QStringList lines;
    const QString driverReason = m_manager->tearingUnavailableReason();
    ui->driverLTearingabel->setToolTip(driverReason);
    ui->driverTearingCheckBox->setToolTip(driverReason);
    if (!driverReason.isEmpty()) {
        lines.append(driverReason);
    }
    const QString picomReason = m_manager->picomUnavailableReason();
    const QString picomTip = picomReason.isEmpty() ? m_manager->picomNote() : picomReason;
    ui->picomLabel->setToolTip(picomTip);
    ui->picomCheckBox->setToolTip(picomTip);
    if (!picomReason.isEmpty()) {
        lines.append(picomReason);
    }
    m_driverUsable = driverReason.isEmpty();
    ui->driverLTearingabel->setEnabled(m_driverUsable);
    ui->picomLabel->setEnabled(picomReason.isEmpty());
    ui->picomCheckBox->setEnabled(picomReason.isEmpty());
    ui->tearingMessage->setText(lines.join(QLatin1Char('\n')));
    ui->tearingMessage->setVisible(!lines.isEmpty());
}

bool TearingEffectPage::driverRowUsable() const
{
    return m_driverUsable;
}

bool TearingEffectPage::picomRowUsable() const
{
    return ui->picomCheckBox->isEnabled();
}

void TearingEffectPage::readStates()
{
    m_picomState = m_manager->isPicomEnabled();
    ui->picomCheckBox->setChecked(m_picomState);

    // The driver's box waits for its state; until then it can be neither read nor changed.
    m_tearingKnown = false;
    ui->driverTearingCheckBox->setEnabled(false);
    m_tearingWatcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), m_manager->tearingStateQuery()));
}

void TearingEffectPage::tearingStateRead()
{
    m_tearingState = m_tearingWatcher->result();
    m_tearingKnown = true;
    {
        const QSignalBlocker blocker(ui->driverTearingCheckBox);
        ui->driverTearingCheckBox->setChecked(m_tearingState);
    }
    ui->driverTearingCheckBox->setEnabled(driverRowUsable());
    onSettingsChanged();
}

bool TearingEffectPage::isModified() const
{
    if (m_tearingKnown && driverRowUsable() && ui->driverTearingCheckBox->isChecked() != m_tearingState) {
        return true;
    }
    return picomRowUsable() && ui->picomCheckBox->isChecked() != m_picomState;
}

SaveResult TearingEffectPage::saveSettings()
{
    // Both switches are applied on every save, each only where it can be used and its state
    // in effect is known; a failure of the first does not keep the second from being applied.
    QStringList errors;
    if (m_tearingKnown && driverRowUsable()) {
        const QString error = m_manager->applyTearing(ui->driverTearingCheckBox->isChecked());
        if (!error.isEmpty()) {
            errors.append(error);
        }
    }
    if (picomRowUsable()) {
        const QString error = m_manager->applyPicom(ui->picomCheckBox->isChecked());
        if (!error.isEmpty()) {
            errors.append(error);
        }
    }
    readStates();
    if (!errors.isEmpty()) {
        return {SaveStatus::Error, errors.join(QLatin1Char('\n'))};
    }
    return {SaveStatus::SuccessRebootRequired, QString()};
}

void TearingEffectPage::reset()
{
    if (m_tearingKnown) {
        ui->driverTearingCheckBox->setChecked(m_tearingState);
    }
    ui->picomCheckBox->setChecked(m_picomState);
    onSettingsChanged();
}

void TearingEffectPage::onSettingsChanged()
{
    Q_EMIT modifiedChanged(isModified());
}
