// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QHashFunctions>
#include <QMetaType>
#include <QString>

class ISettingsPage;
class QTreeWidgetItem;

// A category of the advanced settings: the high byte names a top-level category, the low byte
// a sub-category of it (0 for the top-level category itself).
enum class CategoryId : quint16 {
    Root = 0x0000,
    TearingPrevention = 0x0100,
    IntelAcceleration = 0x0200,
    Benchmark = 0x0300,
    BenchmarkHistory = 0x0301,
};
Q_DECLARE_METATYPE(CategoryId)

struct Category {
    CategoryId id = CategoryId::Root;
    QString name; // tree item text
    QString description; // tree item tool tip
    ISettingsPage *page = nullptr; // borrowed: the dialog's widget tree owns it
    QTreeWidgetItem *item = nullptr; // set by the dialog
    int stackIndex = -1; // index of the page in the page area, -1 without a page
};

inline uint qHash(CategoryId id, uint seed = 0)
{
    return ::qHash(static_cast<quint16>(id), seed);
}
