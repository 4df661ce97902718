// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "driverselection.h"
#include "device.h"

namespace DriverSelection
{
static const QString currentSuffix = QStringLiteral(" (current)");

bool matchesRenderer(const Device &device, const QString &lowerRenderer)
{
    const QStringList words = device.vendorName().split(QLatin1Char(' '), Qt::SkipEmptyParts) + device.name().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &word : words) {
        if (lowerRenderer.contains(word.toLower())) {
            return true;
        }
    }
    return false;
}

void markActiveAdapters(QList<Device> &gpus, const QString &renderer)
{
    if (gpus.size() == 1) {
        gpus.first().setActive(true);
        return;
    }
    const QString lowerRenderer = renderer.toLower();
    for (Device &device : gpus) {
        device.setActive(matchesRenderer(device, lowerRenderer));
    }
}

QString adapterItemText(const Device &device)
{
    return device.sysfsBusId() + QStringLiteral(": ") + device.name();
}

int initialAdapterIndex(const QList<Device> &gpus)
{
    for (int i = gpus.size() - 1; i >= 0; --i) {
        if (gpus.at(i).isActive()) {
            return i;
        }
    }
    return 0;
}

ListFill kernelModuleList(const Device &device)
{
    ListFill fill;
    const QList<Module> modules = device.driverList();
    if (modules.isEmpty()) {
        return fill;
    }
    // Without a module in use the first one is selected, which is the device's current index.
    const QString inUse = device.hasModuleInUse() ? device.currentDriver().trueName : QString();
    fill.selected = 0;
    for (const Module &module : modules) {
        if (!inUse.isEmpty() && module.trueName == inUse) {
            fill.entries.append({module.trueName + currentSuffix, module.trueName});
            fill.selected = fill.entries.size() - 1;
        } else {
            fill.entries.append({module.trueName, module.trueName});
        }
    }
    return fill;
}
}
