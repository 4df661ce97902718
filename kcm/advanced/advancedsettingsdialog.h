// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "category.h"
#include "device.h"

#include <QDialog>
#include <QHash>
#include <QList>

class QTreeWidgetItem;
class Ui_AdvancedSettingsDialog;

// The expert settings: a tree of categories on the left, the page of the chosen one on the
// right, Save, Close and Reset below. Pages take part only through the ISettingsPage contract.
class AdvancedSettingsDialog : public QDialog
{
    Q_OBJECT
public:
    // The dialog with its four categories and their pages, built for the probed adapters.
    AdvancedSettingsDialog(const QList<Device> &devices, QWidget *parent);
    // The bare dialog, without categories: callers add their own pages.
    explicit AdvancedSettingsDialog(QWidget *parent);
    ~AdvancedSettingsDialog() override;

    void addCategory(const Category &category);
    CategoryId getParentCategory(CategoryId id) const;

    // The translated title and description of a category.
    static QString categoryName(CategoryId id);
    static QString categoryDescription(CategoryId id);

public Q_SLOTS:
    void onCategorySelected(QTreeWidgetItem *current, QTreeWidgetItem *previous);
    void saveSettings();
    void resetSettings();
    void updateSaveButtonState();

private:
    void addStandardCategory(CategoryId id, class ISettingsPage *page);

    Ui_AdvancedSettingsDialog *ui;
    QHash<CategoryId, Category> m_categories;
};
