// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "listing.h"
#include "gpulookup.h"
#include "output.h"
#include "systempaths.h"
#include "xorgdrivers.h"

#include <KLocalizedString>

namespace Listing
{
int listGpus(const QStringList &args, QList<Device> &gpus)
{
    Q_UNUSED(args)
    for (const Device &gpu : qAsConst(gpus)) {
        Output::line(QStringLiteral("Bus id: ") + gpu.sysfsBusId() + QStringLiteral(" Model: ") + gpu.model() + QStringLiteral(" Vendor: ") + gpu.vendorName());
    }
    return 0;
}

int listModules(const QStringList &args, QList<Device> &gpus)
{
    const QString argument = args.value(1);
    const auto gpu = findGpu(argument, gpus);
    if (gpu == gpus.end()) {
        return -1;
    }
    Output::line(i18n("Kernel modules for %1", argument));
    const QList<Module> modules = gpu->driverList();
    // Only the module the adapter is really bound to is current; an adapter without one, or
    // kept without modules, shows none.
    const QString current = gpu->hasModuleInUse() ? gpu->currentDriver().displayName : QString();
    for (const Module &module : modules) {
        Output::line(!current.isEmpty() && module.displayName == current ? module.displayName + QStringLiteral(" (current)") : module.displayName);
    }
    return 0;
}

int listXOrg(const QStringList &args, QList<Device> &gpus)
{
    const auto gpu = findGpu(args.value(1), gpus);
    if (gpu == gpus.end()) {
        return -1;
    }
    for (const QString &line : XOrgDrivers::cliListing(gpu->xorgDriver(), SystemPaths::xorgDriverDirs())) {
        Output::line(line);
    }
    return 0;
}
}
