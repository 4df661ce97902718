#include "actiontable.h"
#include "helperclient.h"
#include "intelaccel.h"
#include "listing.h"
#include "packages.h"
#include "switching.h"

#include <KLocalizedString>

namespace
{
// The switching actions talk to the privileged helper through KAuth.
ActionEntry::Handler throughHelper(int (*handler)(const QStringList &, QList<Device> &, IHelperRunner &))
{
    return [handler](const QStringList &args, QList<Device> &gpus) {
        KAuthHelperRunner runner;
        return handler(args, gpus, runner);
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
        {QStringLiteral("list-gpus"), Listing::listGpus, {}, i18n("Lists available GPUs"), ProbeDetail::Identity},
        {QStringLiteral("list-modules"), Listing::listModules, {gpuArgument()}, i18n("Lists kernel modules for the specified GPU")},
        {QStringLiteral("list-xorg"),
         Listing::listXOrg,
         {gpuArgument()},
         i18n("Lists ALL (even incompatible) XOrg drivers and current XOrg driver for the specified GPU")},
        {QStringLiteral("list-packages"),
         Packages::listPackages,
         {gpuArgument()},
         i18n("Lists all available for installation and installed driver packages which are compatible with the specified GPU")},
        {QStringLiteral("set-module"),
         throughHelper(Switching::setModule),
         {gpuArgument(), {QStringLiteral("new-module"), i18n("Kernel module that will be set as active")}},
         i18n("Sets new kernel module for the specified GPU")},
        {QStringLiteral("set-xorg"),
         throughHelper(Switching::setXOrg),
         {gpuArgument(), {QStringLiteral("new-driver"), i18n("XOrg driver that will be set as active")}},
         i18n("Sets new XOrg driver for the specified GPU")},
        {QStringLiteral("intel-accel-status"),
         IntelAccel::status,
         {},
         i18n("Shows current Intel GPU acceleration settings (GuC and FBC).")},
        {QStringLiteral("intel-accel-enable"),
         IntelAccel::enableOrDisable,
         {},
         i18n("Enables Intel GPU hardware acceleration (GuC and FBC).")},
        {QStringLiteral("intel-accel-disable"),
         IntelAccel::enableOrDisable,
         {},
         i18n("Disables Intel GPU hardware acceleration (GuC and FBC).")},
        {QStringLiteral("intel-accel-set-guc"),
         IntelAccel::setGuc,
         {{QStringLiteral("value"), i18n("Set GuC mode (0 - disabled, 1 - submission, 2 - firmware only, 3 - full).")}},
         i18n("Sets Intel GPU GuC mode.")},
        {QStringLiteral("intel-accel-set-fbc"),
         IntelAccel::setFbc,
         {{QStringLiteral("value"), i18n("Enable (1) or disable (0) Intel Frame Buffer Compression (FBC).")}},
         i18n("Sets Intel GPU Frame Buffer Compression (FBC).")},
    };
    QMap<QString, ActionEntry> table;
    for (const ActionEntry &entry : entries) {
        table.insert(entry.name, entry);
    }
    return table;
}
