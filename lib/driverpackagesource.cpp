#include "driverpackagesource.h"
#include "aliasdeclarations.h"
#include "driverlib_debug.h"
#include "systempaths.h"

#include <AppStreamQt/pool.h>

#include <QApt/Backend>
#include <QApt/DependencyInfo>
#include <QApt/Package>

#include <QElapsedTimer>

#include <algorithm>

namespace DriverPackages
{
Locations systemLocations()
{
    Locations locations;
    locations.idListDir = SystemPaths::nvidiaIdListDir();
    return locations;
}

QList<AliasComponent> readAppStream(const Locations &locations)
{
    AppStream::Pool pool;
    pool.setFlags(AppStream::Pool::FlagLoadOsCatalog);
    if (!locations.appStreamDirs.isEmpty()) {
        pool.setLoadStdDataLocations(false);
        for (const QString &dir : locations.appStreamDirs) {
            pool.addExtraDataLocation(dir, AppStream::Metadata::FormatStyleCatalog);
        }
        if (!locations.appStreamCacheDir.isEmpty()) {
            pool.overrideCacheLocations(locations.appStreamCacheDir, locations.appStreamCacheDir);
        }
    }
    QList<AliasComponent> result;
    if (!pool.load()) {
        // No catalogue (appstream not installed, no lists fetched): the other inputs remain.
        qCDebug(DRIVERLIB) << "AppStream catalogue not loaded:" << pool.lastError();
        return result;
    }
    const QList<AppStream::Component> components = pool.components();
    for (const AppStream::Component &component : components) {
        const QStringList patterns = component.provided(AppStream::Provided::KindModalias).items();
        const QStringList packages = component.packageNames();
        if (!patterns.isEmpty() && !packages.isEmpty()) {
            result.append({packages, patterns});
        }
    }
    return result;
}

PackageInfo packageInfo(const QApt::Package &package, bool readModaliases)
{
    PackageInfo info;
    info.name = package.name();
    if (readModaliases) {
        info.modaliases = package.controlField(QLatin1String("Modaliases"));
    }
    info.candidateVersion = package.availableVersion();
    info.installedVersion = package.installedVersion();
    info.shortDescription = package.shortDescription();
    const QList<QApt::DependencyItem> groups = package.depends();
    for (const QApt::DependencyItem &group : groups) {
        for (int i = 0; i < group.size(); ++i) {
            if (i == 0) {
                info.dependsFirst.append(group.at(i).packageName());
            }
            info.dependsAll.append(group.at(i).packageName());
        }
    }
    return info;
}

Snapshot load(QApt::Backend &backend, const Locations &locations, LoadTimes *times)
{
    Snapshot snapshot;
    LoadTimes local;
    LoadTimes &t = times ? *times : local;
    QElapsedTimer timer;
    timer.start();

    // Only a package named in a stanza with the field can have it in its candidate's record;
    // when the indexes cannot be scanned, every package is asked.
    QSet<QString> declaring;
    const bool filtered = AliasDeclarations::collectFromIndexes(declaring, &snapshot.components);
    snapshot.componentsKnown = filtered;
    t.indexScanMs = timer.restart();

    snapshot.appstream = readAppStream(locations);
    QSet<QString> named;
    for (const AliasComponent &component : std::as_const(snapshot.appstream)) {
        for (const QString &name : component.packages) {
            named.insert(name);
        }
    }
    t.appStreamMs = timer.restart();

    snapshot.idLists = NvidiaIdLists::read(locations.idListDir);
    t.idListsMs = timer.restart();

    const QApt::PackageList packages = backend.availablePackages();
    for (const QApt::Package *package : packages) {
        const QString name = package->name();
        const bool declares = !filtered || declaring.contains(name);
        if (!declares && !named.contains(name) && !isNvidiaCandidateName(name)) {
            continue;
        }
        snapshot.cacheOrder.insert(name, snapshot.cacheOrder.size());
        PackageInfo info = packageInfo(*package, declares);
        // Without the pre-filter every package is asked; keep only those that matter.
        if (!filtered && info.modaliases.isEmpty() && !named.contains(name) && !isNvidiaCandidateName(name)) {
            continue;
        }
        snapshot.packages.append(info);
    }
    std::sort(snapshot.packages.begin(), snapshot.packages.end(), [](const PackageInfo &a, const PackageInfo &b) {
        return a.name < b.name;
    });
    t.packagesMs = timer.elapsed();
    qCDebug(DRIVERLIB).nospace() << "driver packages: index scan " << t.indexScanMs << " ms (" << (filtered ? "used" : "not usable") << "), AppStream "
                                 << t.appStreamMs << " ms (" << snapshot.appstream.size() << " components), id lists " << t.idListsMs << " ms ("
                                 << snapshot.idLists.lists.size() << "), " << snapshot.packages.size() << " of " << packages.size()
                                 << " packages read in " << t.packagesMs << " ms";
    return snapshot;
}
}
