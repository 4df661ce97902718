// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "driverpackagesource.h"
#include "aliasdeclarations.h"
#include "driverlib_debug.h"
#include "systempaths.h"

#include <AppStreamQt/pool.h>

#include <QApt/Backend>
#include <QApt/DependencyInfo>
#include <QApt/Package>

#include <QElapsedTimer>

#include <apt-pkg/cachefile.h>
#include <apt-pkg/error.h>
#include <apt-pkg/init.h>
#include <apt-pkg/pkgrecords.h>
#include <apt-pkg/pkgsystem.h>
#include <apt-pkg/policy.h>

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

namespace
{
// What decides, before any package is read, which packages a snapshot holds.
struct Selection {
    QSet<QString> declaring; // named in an index stanza with a Modaliases field
    bool filtered = false; // false: the indexes could not be scanned, every package is asked
    QSet<QString> named; // named by the AppStream catalogue

    // Whether the package is read; declares: whether its Modaliases field is.
    bool wanted(const QString &name, bool *declares) const
    {
        *declares = !filtered || declaring.contains(name);
        return *declares || named.contains(name) || isNvidiaCandidateName(name);
    }
    // Without the pre-filter every package is asked; keep only those that matter.
    bool keep(const PackageInfo &info) const
    {
        return filtered || !info.modaliases.isEmpty() || named.contains(info.name) || isNvidiaCandidateName(info.name);
    }
};

Selection select(Snapshot &snapshot, const Locations &locations, LoadTimes &t, QElapsedTimer &timer)
{
    // Only a package named in a stanza with the field can have it in its candidate's record;
    // when the indexes cannot be scanned, every package is asked.
    Selection selection;
    selection.filtered = AliasDeclarations::collectFromIndexes(selection.declaring, &snapshot.components);
    snapshot.componentsKnown = selection.filtered;
    t.indexScanMs = timer.restart();

    snapshot.appstream = readAppStream(locations);
    for (const AliasComponent &component : std::as_const(snapshot.appstream)) {
        for (const QString &name : component.packages) {
            selection.named.insert(name);
        }
    }
    t.appStreamMs = timer.restart();

    snapshot.idLists = NvidiaIdLists::read(locations.idListDir);
    t.idListsMs = timer.restart();
    return selection;
}

void finish(Snapshot &snapshot, const Selection &selection, LoadTimes &t, QElapsedTimer &timer, qsizetype asked)
{
    std::sort(snapshot.packages.begin(), snapshot.packages.end(), [](const PackageInfo &a, const PackageInfo &b) {
        return a.name < b.name;
    });
    t.packagesMs = timer.elapsed();
    qCDebug(DRIVERLIB).nospace() << "driver packages: index scan " << t.indexScanMs << " ms (" << (selection.filtered ? "used" : "not usable")
                                 << "), AppStream " << t.appStreamMs << " ms (" << snapshot.appstream.size() << " components), id lists " << t.idListsMs
                                 << " ms (" << snapshot.idLists.lists.size() << "), " << snapshot.packages.size() << " of " << asked << " packages read in "
                                 << t.packagesMs << " ms";
}

QString fromApt(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}
}

Snapshot load(QApt::Backend &backend, const Locations &locations, LoadTimes *times)
{
    Snapshot snapshot;
    LoadTimes local;
    LoadTimes &t = times ? *times : local;
    QElapsedTimer timer;
    timer.start();
    const Selection selection = select(snapshot, locations, t, timer);

    const QApt::PackageList packages = backend.availablePackages();
    for (const QApt::Package *package : packages) {
        const QString name = package->name();
        bool declares = false;
        if (!selection.wanted(name, &declares)) {
            continue;
        }
        snapshot.cacheOrder.insert(name, snapshot.cacheOrder.size());
        PackageInfo info = packageInfo(*package, declares);
        if (selection.keep(info)) {
            snapshot.packages.append(info);
        }
    }
    finish(snapshot, selection, t, timer, packages.size());
    return snapshot;
}

bool loadFromCache(Snapshot &snapshot, const Locations &locations, QString *error, LoadTimes *times)
{
    LoadTimes local;
    LoadTimes &t = times ? *times : local;
    QElapsedTimer timer;
    timer.start();
    // As a backend's init() does: the configuration (APT_CONFIG included) is read each time.
    if (!pkgInitConfig(*_config) || !pkgInitSystem(*_config, _system)) {
        std::string message;
        _error->PopMessage(message);
        _error->Discard();
        *error = QString::fromStdString(message);
        return false;
    }
    pkgCacheFile file;
    if (!file.BuildCaches(nullptr, false) || !file.BuildPolicy(nullptr)) {
        std::string message;
        _error->PopMessage(message);
        _error->Discard();
        *error = QString::fromStdString(message);
        return false;
    }
    pkgCache &cache = *file.GetPkgCache();
    pkgPolicy &policy = *file.GetPolicy();
    pkgRecords records(cache);
    t.cacheMs = timer.restart();

    snapshot = Snapshot();
    const Selection selection = select(snapshot, locations, t, timer);

    // The packages in the cache's own order, as the backend lists them: every one that has a
    // version (virtual names have none).
    qsizetype asked = 0;
    for (pkgCache::PkgIterator package = cache.PkgBegin(); !package.end(); ++package) {
        if (package.VersionList().end()) {
            continue;
        }
        ++asked;
        const QString name = fromApt(package.Name());
        bool declares = false;
        if (!selection.wanted(name, &declares)) {
            continue;
        }
        snapshot.cacheOrder.insert(name, snapshot.cacheOrder.size());
        PackageInfo info;
        info.name = name;
        if (!package.CurrentVer().end()) {
            info.installedVersion = fromApt(package.CurrentVer().VerStr());
        }
        const pkgCache::VerIterator candidate = policy.GetCandidateVer(package);
        if (!candidate.end()) {
            info.candidateVersion = fromApt(candidate.VerStr());
            const pkgCache::DescIterator description = candidate.TranslatedDescription();
            if (!description.end()) {
                info.shortDescription = QString::fromStdString(records.Lookup(description.FileList()).ShortDesc());
            }
            if (declares) {
                info.modaliases = QString::fromStdString(records.Lookup(candidate.FileList()).RecordField("Modaliases"));
            }
            bool groupStart = true;
            for (pkgCache::DepIterator dependency = candidate.DependsList(); !dependency.end(); ++dependency) {
                if (dependency->Type != pkgCache::Dep::Depends) {
                    continue;
                }
                const QString target = fromApt(dependency.TargetPkg().Name());
                if (groupStart) {
                    info.dependsFirst.append(target);
                }
                info.dependsAll.append(target);
                groupStart = (dependency->CompareOp & pkgCache::Dep::Or) == 0;
            }
        }
        if (selection.keep(info)) {
            snapshot.packages.append(info);
        }
    }
    finish(snapshot, selection, t, timer, asked);
    return true;
}
}
