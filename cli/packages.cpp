#include "packages.h"
#include "aliasdeclarations.h"
#include "cli_debug.h"
#include "gpulookup.h"
#include "modaliasmatch.h"
#include "output.h"

#include <QApt/Backend>
#include <QApt/Package>

#include <QElapsedTimer>

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

    QElapsedTimer timer;
    timer.start();
    QApt::Backend backend;
    // init() reads the cache afresh; no reload is needed after it.
    if (!backend.init()) {
        Output::line(backend.initErrorMessage());
        return -1;
    }
    const qint64 initMs = timer.restart();

    // Only a package named in a stanza with the field can have it in its candidate's record;
    // when the indexes cannot be scanned, every package is asked.
    QSet<QString> declaring;
    const bool filtered = AliasDeclarations::collectFromIndexes(declaring);
    const qint64 scanMs = timer.restart();

    bool found = false;
    int asked = 0;
    const QApt::PackageList packages = backend.availablePackages();
    for (const QApt::Package *package : packages) {
        if (filtered && !declaring.contains(package->name())) {
            continue;
        }
        ++asked;
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
    qCDebug(CLI).nospace() << "list-packages: init " << initMs << " ms, index scan " << scanMs << " ms (" << (filtered ? "used" : "not usable")
                           << "), field read for " << asked << " of " << packages.size() << " packages in " << timer.elapsed() << " ms";
    return 0;
}
}
