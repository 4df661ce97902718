#include "packages.h"
#include "gpulookup.h"
#include "modaliasmatch.h"
#include "output.h"

#include <QApt/Backend>
#include <QApt/Package>

#include <KLocalizedString>

namespace Packages
{
int listPackages(const QStringList &args, QList<Device> &gpus)
{
    const auto gpu = findGpu(args.value(1), gpus);
    if (gpu == gpus.end()) {
        return -1;
    }
    const QString modalias = gpu->modalias();

    QApt::Backend backend;
    // init() reads the cache afresh; no reload is needed after it.
    if (!backend.init()) {
        Output::line(backend.initErrorMessage());
        return -1;
    }
    bool found = false;
    const QApt::PackageList packages = backend.availablePackages();
    for (const QApt::Package *package : packages) {
        const QString aliases = package->controlField(QLatin1String("Modaliases"));
        // A package that declares no hardware is not a driver for this adapter.
        if (aliases.isEmpty() || !ModaliasMatch::matches(aliases, modalias)) {
            continue;
        }
        found = true;
        const QString name = package->name();
        Output::line(package->isInstalled() ? name + QStringLiteral(" (installed)") : name);
    }
    if (!found) {
        Output::line(i18n("Cannot find any compatible driver packages"));
    }
    return 0;
}
}
