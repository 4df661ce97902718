// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "switching.h"
#include "cli_debug.h"
#include "gpulookup.h"
#include "helperclient.h"
#include "output.h"
#include "systempaths.h"
#include "xorgdrivers.h"

#include <KLocalizedString>

namespace Switching
{
bool sendReplace(const Device &gpu, const QString &driver, IHelperRunner &runner)
{
    // The command line never sends the vendor (see HelperRequests::VendorArgument).
    const HelperRequest request = HelperRequests::replace(gpu, driver, HelperRequests::VendorArgument::Omit);
    if (!request.isReady()) {
        qCCritical(CLI).noquote() << request.refusal;
        return false;
    }
    const HelperResult result = runner.send(request);
    if (!result.ok) {
        qCCritical(CLI).noquote() << QStringLiteral("D-Bus helper error: ") + result.errorText;
        return false;
    }
    return true;
}

int setModule(const QStringList &args, QList<Device> &gpus, IHelperRunner &runner)
{
    const QString gpuArgument = args.value(1);
    const QString moduleName = args.value(2);
    const auto gpu = findGpu(gpuArgument, gpus);
    if (gpu == gpus.end()) {
        return -1;
    }
    if (!moduleName.isEmpty()) {
        const QList<Module> modules = gpu->driverList();
        for (const Module &module : modules) {
            if (module.displayName == moduleName) {
                gpu->setNewDriver(module.trueName);
                return sendReplace(*gpu, QString(), runner) ? 0 : -1;
            }
        }
    }
    Output::line(i18n("Cannot find module %1 for GPU %2", moduleName, gpuArgument));
    return -1;
}

int setXOrg(const QStringList &args, QList<Device> &gpus, IHelperRunner &runner)
{
    const QString driver = args.value(2);
    const auto gpu = findGpu(args.value(1), gpus);
    if (gpu == gpus.end()) {
        return -1;
    }
    if (driver.isEmpty()) {
        qCCritical(CLI) << "The driver name is not specified.";
        return -1;
    }
    // Only the installed driver the X log names is refused; an unknown one (X did not start,
    // or the adapter has no DRM node) refuses nothing.
    const QString current = XOrgDrivers::driverInUse(gpu->xorgDriver(), XOrgDrivers::installedDrivers(SystemPaths::xorgDriverDirs()));
    if (!current.isEmpty() && driver == current) {
        Output::line(i18n("You are trying to set current xorg driver"));
        return -1;
    }
    return sendReplace(*gpu, driver, runner) ? 0 : -1;
}
}
