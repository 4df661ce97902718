#include "actiontable.h"
#include "listing.h"
#include "output.h"

#include <KLocalizedString>

namespace
{
// Stands in for an action whose handler is not part of this build yet.
ActionEntry::Handler notAvailable(const QString &name)
{
    return [name](const QStringList &, QList<Device> &) {
        Output::line(i18n("The action %1 is not available yet.", name));
        return -1;
    };
}

QPair<QString, QString> gpuArgument()
{
    return {QStringLiteral("GPU"), i18n("GPU BusID, name or vendor")};
}
}

QMap<QString, ActionEntry> buildActionTable()
{
    const QList<ActionEntry> entries = {
        {QStringLiteral("list-gpus"), Listing::listGpus, {}, i18n("Lists available GPUs")},
        {QStringLiteral("list-modules"), Listing::listModules, {gpuArgument()}, i18n("Lists kernel modules for the specified GPU")},
        {QStringLiteral("list-xorg"),
         Listing::listXOrg,
         {gpuArgument()},
         i18n("Lists ALL (even incompatible) XOrg drivers and current XOrg driver for the specified GPU")},
        {QStringLiteral("list-packages"),
         notAvailable(QStringLiteral("list-packages")),
         {gpuArgument()},
         i18n("Lists all available for installation and installed driver packages which are compatible with the specified GPU")},
        {QStringLiteral("set-module"),
         notAvailable(QStringLiteral("set-module")),
         {gpuArgument(), {QStringLiteral("new-module"), i18n("Kernel module that will be set as active")}},
         i18n("Sets new kernel module for the specified GPU")},
        {QStringLiteral("set-xorg"),
         notAvailable(QStringLiteral("set-xorg")),
         {gpuArgument(), {QStringLiteral("new-driver"), i18n("XOrg driver that will be set as active")}},
         i18n("Sets new XOrg driver for the specified GPU")},
        {QStringLiteral("intel-accel-status"),
         notAvailable(QStringLiteral("intel-accel-status")),
         {},
         i18n("Shows current Intel GPU acceleration settings (GuC and FBC).")},
        {QStringLiteral("intel-accel-enable"),
         notAvailable(QStringLiteral("intel-accel-enable")),
         {},
         i18n("Enables Intel GPU hardware acceleration (GuC and FBC).")},
        {QStringLiteral("intel-accel-disable"),
         notAvailable(QStringLiteral("intel-accel-disable")),
         {},
         i18n("Disables Intel GPU hardware acceleration (GuC and FBC).")},
        {QStringLiteral("intel-accel-set-guc"),
         notAvailable(QStringLiteral("intel-accel-set-guc")),
         {{QStringLiteral("value"), i18n("Set GuC mode (0 - disabled, 1 - submission, 2 - firmware only, 3 - full).")}},
         i18n("Sets Intel GPU GuC mode.")},
        {QStringLiteral("intel-accel-set-fbc"),
         notAvailable(QStringLiteral("intel-accel-set-fbc")),
         {{QStringLiteral("value"), i18n("Enable (1) or disable (0) Intel Frame Buffer Compression (FBC).")}},
         i18n("Sets Intel GPU Frame Buffer Compression (FBC).")},
    };
    QMap<QString, ActionEntry> table;
    for (const ActionEntry &entry : entries) {
        table.insert(entry.name, entry);
    }
    return table;
}
