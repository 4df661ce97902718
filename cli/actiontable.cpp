// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "actiontable.h"
#include "changes.h"
#include "listing.h"

#include <KLocalizedString>

namespace
{
QPair<QString, QString> gpuArgument()
{
    return {QStringLiteral("GPU"), i18n("GPU BusID, name or vendor")};
}
}

QMap<QString, ActionEntry> buildActionTable()
{
    const QList<ActionEntry> entries = {
        {QStringLiteral("list-gpus"), Listing::listGpus, {}, i18n("Lists available GPUs"), ProbeDetail::Identity},
        {QStringLiteral("list-modules"), Listing::listModules, {gpuArgument()}, i18n("Lists kernel modules for the specified GPU")},
        {QStringLiteral("list-xorg"),
         Listing::listXOrg,
         {gpuArgument()},
         i18n("Lists ALL (even incompatible) XOrg drivers and current XOrg driver for the specified GPU")},
        {QStringLiteral("list-packages"),
         Changes::handler(QStringLiteral("list-packages")),
         {gpuArgument()},
         i18n("Lists all available for installation and installed driver packages which are compatible with the specified GPU")},
        {QStringLiteral("set-module"),
         Changes::handler(QStringLiteral("set-module")),
         {gpuArgument(), {QStringLiteral("new-module"), i18n("Kernel module that will be set as active")}},
         i18n("Sets new kernel module for the specified GPU")},
        {QStringLiteral("set-xorg"),
         Changes::handler(QStringLiteral("set-xorg")),
         {gpuArgument(), {QStringLiteral("new-driver"), i18n("XOrg driver that will be set as active")}},
         i18n("Sets new XOrg driver for the specified GPU")},
        {QStringLiteral("intel-accel-status"),
         Changes::handler(QStringLiteral("intel-accel-status")),
         {},
         i18n("Shows current Intel GPU acceleration settings (GuC and FBC).")},
        {QStringLiteral("intel-accel-enable"),
         Changes::handler(QStringLiteral("intel-accel-enable")),
         {},
         i18n("Enables Intel GPU hardware acceleration (GuC and FBC).")},
        {QStringLiteral("intel-accel-disable"),
         Changes::handler(QStringLiteral("intel-accel-disable")),
         {},
         i18n("Disables Intel GPU hardware acceleration (GuC and FBC).")},
        {QStringLiteral("intel-accel-set-guc"),
         Changes::handler(QStringLiteral("intel-accel-set-guc")),
         {{QStringLiteral("value"), i18n("Set GuC mode (0 - disabled, 1 - submission, 2 - firmware only, 3 - full).")}},
         i18n("Sets Intel GPU GuC mode.")},
        {QStringLiteral("intel-accel-set-fbc"),
         Changes::handler(QStringLiteral("intel-accel-set-fbc")),
         {{QStringLiteral("value"), i18n("Enable (1) or disable (0) Intel Frame Buffer Compression (FBC).")}},
         i18n("Sets Intel GPU Frame Buffer Compression (FBC).")},
    };
    QMap<QString, ActionEntry> table;
    for (const ActionEntry &entry : entries) {
        table.insert(entry.name, entry);
    }
    return table;
}
