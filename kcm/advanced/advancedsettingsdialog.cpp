// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "advancedsettingsdialog.h"
#include "benchmarkhistorypage.h"
#include "benchmarkpage.h"
#include "intelhardwareaccelerationpage.h"
#include "isettingspage.h"
#include "kcm_debug.h"
#include "tearingeffectpage.h"
#include "ui_advancedsettingsdialog.h"

#include <KLocalizedString>

#include <QMessageBox>
#include <QPushButton>

AdvancedSettingsDialog::AdvancedSettingsDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui_AdvancedSettingsDialog)
{
    qRegisterMetaType<CategoryId>("CategoryId");
    ui->setupUi(this);
    ui->buttonBox->button(QDialogButtonBox::Save)->setEnabled(false);

    // The form already accepts on Save and rejects on Close; Save therefore closes the dialog
    // first and saves afterwards, and the result boxes come up over the closed dialog.
    connect(ui->categoriesTree, &QTreeWidget::currentItemChanged, this, &AdvancedSettingsDialog::onCategorySelected);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &AdvancedSettingsDialog::saveSettings);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(ui->buttonBox->button(QDialogButtonBox::Reset), &QPushButton::clicked, this, &AdvancedSettingsDialog::resetSettings);
}

AdvancedSettingsDialog::AdvancedSettingsDialog(const QList<Device> &devices, QWidget *parent)
    : AdvancedSettingsDialog(parent)
{
    addStandardCategory(CategoryId::TearingPrevention, new TearingEffectPage(devices, this));
    addStandardCategory(CategoryId::IntelAcceleration, new IntelHardwareAccelerationPage(devices, this));
    // The benchmark measures the adapter that renders the desktop; without one (a virtual
    // machine, a laptop on its software renderer) an empty record stands for it.
    Device active;
    for (const Device &device : devices) {
        if (device.isActive()) {
            active = device;
            break;
        }
    }
    addStandardCategory(CategoryId::Benchmark, new BenchmarkPage(active, this));
    addStandardCategory(CategoryId::BenchmarkHistory, new BenchmarkHistoryPage(this));
}

AdvancedSettingsDialog::~AdvancedSettingsDialog()
{
    delete ui;
}

QString AdvancedSettingsDialog::categoryName(CategoryId id)
{
    switch (id) {
    case CategoryId::TearingPrevention:
        return i18n("Tearing prevention");
    case CategoryId::IntelAcceleration:
        return i18n("Hardware video acceleration (Intel)");
    case CategoryId::Benchmark:
        return i18n("GPU performance benchmark");
    case CategoryId::BenchmarkHistory:
        return i18n("Benchmark history");
    case CategoryId::Root:
        break;
    }
    return QString();
}

QString AdvancedSettingsDialog::categoryDescription(CategoryId id)
{
    switch (id) {
    case CategoryId::TearingPrevention:
        return i18n("Methods to combat the effect of image discontinuity");
    case CategoryId::IntelAcceleration:
        return i18n("Improves video playback on Intel GPUs through hardware decode acceleration and other tweaks");
    case CategoryId::Benchmark:
        return i18n("Measuring graphics processor performance");
    case CategoryId::BenchmarkHistory:
        return i18n("Results of performance tests (FPS) conducted on different GPUs and drivers.");
    case CategoryId::Root:
        break;
    }
    return QString();
}

void AdvancedSettingsDialog::addStandardCategory(CategoryId id, ISettingsPage *page)
{
    Category category;
    category.id = id;
    category.name = categoryName(id);
    category.description = categoryDescription(id);
    category.page = page;
    addCategory(category);
}

CategoryId AdvancedSettingsDialog::getParentCategory(CategoryId id) const
{
    const quint16 value = static_cast<quint16>(id);
    if (value == 0 || (value & 0x00ff) == 0) {
        return CategoryId::Root;
    }
    return static_cast<CategoryId>(value & 0xff00);
}

void AdvancedSettingsDialog::addCategory(const Category &category)
{
    if (m_categories.contains(category.id)) {
        qCWarning(KCM_VIDEODRIVER) << "The category already exists:" << category.name;
        return;
    }
    const auto parent = m_categories.constFind(getParentCategory(category.id));
    QTreeWidgetItem *parentItem = parent == m_categories.constEnd() ? nullptr : parent->item;

    auto *item = new QTreeWidgetItem(QStringList{category.name}, 0);
    if (parentItem) {
        parentItem->addChild(item);
        parentItem->setExpanded(true);
    } else {
        ui->categoriesTree->addTopLevelItem(item);
    }
    item->setData(0, Qt::ToolTipRole, category.description);

    Category stored = category;
    stored.item = item;
    stored.stackIndex = category.page ? ui->stackedWidget->addWidget(category.page) : -1;
    item->setData(0, Qt::UserRole, QVariant::fromValue(category.id));
    m_categories.insert(category.id, stored);

    if (category.page) {
        connect(category.page, &ISettingsPage::modifiedChanged, this, &AdvancedSettingsDialog::updateSaveButtonState);
    }
}

void AdvancedSettingsDialog::onCategorySelected(QTreeWidgetItem *current, QTreeWidgetItem *previous)
{
    Q_UNUSED(previous)
    if (!current) {
        return;
    }
    const QVariant data = current->data(0, Qt::UserRole);
    if (!data.isValid()) {
        return;
    }
    const CategoryId id = data.canConvert<CategoryId>() ? data.value<CategoryId>() : CategoryId::Root;
    const auto it = m_categories.constFind(id);
    if (it == m_categories.constEnd()) {
        qCWarning(KCM_VIDEODRIVER) << "No matching page found for category" << static_cast<quint16>(id);
        return;
    }
    if (it->stackIndex >= 0) {
        ui->stackedWidget->setCurrentIndex(it->stackIndex);
    }
}

void AdvancedSettingsDialog::updateSaveButtonState()
{
    bool modified = false;
    for (const Category &category : qAsConst(m_categories)) {
        if (category.page && category.page->isModified()) {
            modified = true;
            break;
        }
    }
    ui->buttonBox->button(QDialogButtonBox::Save)->setEnabled(modified);
}

void AdvancedSettingsDialog::resetSettings()
{
    for (const Category &category : qAsConst(m_categories)) {
        if (category.page) {
            category.page->reset();
        }
    }
}

void AdvancedSettingsDialog::saveSettings()
{
    QStringList errors;
    QStringList notes;
    bool saved = false;
    bool rebootRequired = false;
    for (const Category &category : qAsConst(m_categories)) {
        if (!category.page || !category.page->isModified()) {
            continue;
        }
        const SaveResult result = category.page->saveSettings();
        switch (result.status) {
        case SaveStatus::Error:
            errors.append(i18nc("@info category title: error text", "%1: %2", category.name, result.message));
            break;
        case SaveStatus::SuccessRebootRequired:
            rebootRequired = true;
            Q_FALLTHROUGH();
        case SaveStatus::Success:
            saved = true;
            if (!result.message.isEmpty()) {
                notes.append(result.message);
            }
            break;
        case SaveStatus::NoChanges:
            break;
        }
    }

    if (!errors.isEmpty()) {
        QMessageBox::critical(this, QString(), errors.join(QLatin1Char('\n')), QMessageBox::Ok);
        return;
    }
    if (!saved) {
        accept();
        return;
    }
    QString text =
        rebootRequired ? i18n("The settings have been successfully saved. To apply, please perform a reboot.") : i18n("Settings saved successfully.");
    if (!notes.isEmpty()) {
        text += QLatin1Char('\n') + notes.join(QLatin1Char('\n'));
    }
    QMessageBox::information(this, QString(), text, QMessageBox::Ok);
    accept();
}
