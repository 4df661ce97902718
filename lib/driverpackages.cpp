// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "driverpackages.h"
#include "driverlib_debug.h"
#include "modaliasmatch.h"

#include <KLocalizedString>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <fnmatch.h>

namespace DriverPackages
{
namespace
{
const QString openModules = QStringLiteral("nvidia-open-kernel-dkms");
const QString currentDriver = QStringLiteral("nvidia-driver");
const QString openList = QStringLiteral("nvidia-open");

// The rule of archives that name their NVIDIA drivers "nvidia-driver-<series>": the helper
// packages of such a driver are not drivers of their own.
bool isPatternDriver(const PackageInfo &package)
{
    const QString &name = package.name;
    return name.contains(QLatin1String("nvidia-driver-")) && !name.contains(QLatin1String("libs")) && !name.contains(QLatin1String("bin"))
        && !name.contains(QLatin1String("full")) && !package.shortDescription.contains(QLatin1String("Transitional"));
}

// Debian's own driver names: nvidia-driver and nvidia-<series>-driver.
bool isSeriesDriverName(const QString &name)
{
    static const QRegularExpression series(QStringLiteral("^nvidia-(tesla|legacy)(-[0-9a-z]+)?-driver$"));
    return name == currentDriver || series.match(name).hasMatch();
}

NvidiaDriverType typeOf(const QString &name)
{
    if (name.contains(QLatin1String("no-dkms"))) {
        return NvidiaDriverType::NoDkms;
    }
    return namesOpenVariant(name) ? NvidiaDriverType::Open : NvidiaDriverType::Proprietary;
}

QString shownVersion(const PackageInfo &package)
{
    return package.installed() ? package.installedVersion : package.candidateVersion;
}

NvidiaDriver record(const PackageInfo &package)
{
    NvidiaDriver driver;
    driver.name = package.name;
    driver.version = QVersionNumber::fromString(upstreamVersion(shownVersion(package)));
    driver.installed = package.installed();
    driver.type = typeOf(package.name);
    return driver;
}

int indexOf(const QList<NvidiaDriver> &drivers, const QString &name)
{
    for (int i = 0; i < drivers.size(); ++i) {
        if (drivers.at(i).name == name) {
            return i;
        }
    }
    return -1;
}
}

NvidiaIdLists NvidiaIdLists::read(const QString &dir)
{
    NvidiaIdLists result;
    const QFileInfoList files = QDir(dir).entryInfoList({QStringLiteral("*.ids")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QFileInfo &info : files) {
        QFile file(info.filePath());
        // The lists are a few kilobytes; a huge file is not one of them.
        if (info.size() > 1 << 20 || !file.open(QIODevice::ReadOnly)) {
            qCWarning(DRIVERLIB) << "Cannot read the NVIDIA id list" << info.filePath();
            continue;
        }
        result.lists.insert(info.completeBaseName(), parse(file.readAll()));
        result.present = true;
    }
    return result;
}

QSet<QString> NvidiaIdLists::parse(const QByteArray &text)
{
    QSet<QString> ids;
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray &line : lines) {
        const QByteArray id = line.trimmed().toUpper();
        // QString::fromLatin1(QByteArray) stops at a NUL byte, which would turn a damaged line
        // into an empty id; take the whole line.
        if (!id.isEmpty()) {
            ids.insert(QString::fromLatin1(id.constData(), id.size()));
        }
    }
    return ids;
}

QStringList NvidiaIdLists::listsNaming(const QString &id) const
{
    QStringList names;
    for (auto it = lists.cbegin(); it != lists.cend(); ++it) {
        if (it.value().contains(id)) {
            names.append(it.key());
        }
    }
    names.sort();
    return names;
}

const PackageInfo *Snapshot::find(const QString &name) const
{
    const auto it = std::lower_bound(packages.cbegin(), packages.cend(), name, [](const PackageInfo &p, const QString &n) {
        return p.name < n;
    });
    return it != packages.cend() && it->name == name ? &*it : nullptr;
}

bool globMatches(const QString &pattern, const QString &modalias)
{
    if (pattern.isEmpty()) {
        return false;
    }
    return fnmatch(pattern.toUtf8().constData(), modalias.toUtf8().constData(), 0) == 0;
}

QString nvidiaDeviceId(const QString &modalias)
{
    static const QRegularExpression pci(QStringLiteral("^pci:v000010DEd0000([0-9A-Fa-f]{4})"));
    const QRegularExpressionMatch m = pci.match(modalias);
    return m.hasMatch() ? QStringLiteral("10DE") + m.captured(1).toUpper() : QString();
}

QString driverPackageForList(const QString &listName)
{
    if (listName == QLatin1String("nvidia")) {
        return currentDriver;
    }
    if (listName == openList || !listName.startsWith(QLatin1String("nvidia-"))) {
        return QString();
    }
    return listName + QStringLiteral("-driver");
}

bool isNvidiaCandidateName(const QString &name)
{
    return name.startsWith(QLatin1String("nvidia-")) && (isSeriesDriverName(name) || name == openModules || name.contains(QLatin1String("nvidia-driver-")));
}

bool namesOpenVariant(const QString &name)
{
    return name.split(QLatin1Char('-')).contains(QLatin1String("open"));
}

QString upstreamVersion(const QString &version)
{
    QString v = version;
    const int colon = v.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        v.remove(0, colon + 1);
    }
    const int dash = v.lastIndexOf(QLatin1Char('-'));
    if (dash >= 0) {
        v.truncate(dash);
    }
    return v;
}

QList<Match> aliasMatches(const Snapshot &snapshot, const QString &modalias)
{
    QSet<QString> byField;
    QSet<QString> byAppStream;
    for (const PackageInfo &package : snapshot.packages) {
        if (!package.modaliases.isEmpty() && ModaliasMatch::matches(package.modaliases, modalias)) {
            byField.insert(package.name);
        }
    }
    for (const AliasComponent &component : snapshot.appstream) {
        const bool matches = std::any_of(component.patterns.cbegin(), component.patterns.cend(), [&](const QString &pattern) {
            return globMatches(pattern, modalias);
        });
        if (matches) {
            for (const QString &name : component.packages) {
                // The catalogue may name packages this archive does not have.
                if (snapshot.find(name)) {
                    byAppStream.insert(name);
                }
            }
        }
    }
    const QSet<QString> names = byField + byAppStream;
    QStringList sorted(names.cbegin(), names.cend());
    sorted.sort();
    QList<Match> result;
    for (const QString &name : std::as_const(sorted)) {
        Match match;
        match.name = name;
        match.installed = snapshot.find(name)->installed();
        match.byModaliasesField = byField.contains(name);
        match.byAppStream = byAppStream.contains(name);
        result.append(match);
    }
    return result;
}

void markRecommendedDriver(QList<NvidiaDriver> &drivers)
{
    int best = -1;
    for (int i = 0; i < drivers.size(); ++i) {
        if (best < 0) {
            best = i;
            continue;
        }
        const NvidiaDriver &a = drivers.at(i);
        const NvidiaDriver &b = drivers.at(best);
        if (a.supported != b.supported) {
            if (a.supported) {
                best = i;
            }
        } else if (QVersionNumber::compare(a.version, b.version) > 0) {
            best = i;
        }
    }
    if (best >= 0) {
        drivers[best].recommended = true;
    }
}

Catalogue nvidiaCatalogue(const Snapshot &snapshot, const QString &modalias)
{
    Catalogue catalogue;
    QList<NvidiaDriver> &drivers = catalogue.drivers;

    // Archives that declare the hardware in the Modaliases field of "nvidia-driver-*" packages.
    for (const PackageInfo &package : snapshot.packages) {
        if (!isPatternDriver(package)) {
            continue;
        }
        NvidiaDriver driver = record(package);
        driver.supported = driver.type != NvidiaDriverType::Open && driver.type != NvidiaDriverType::NoDkms && !package.modaliases.isEmpty()
            && ModaliasMatch::matches(package.modaliases, modalias);
        drivers.append(driver);
    }

    if (snapshot.idLists.present) {
        catalogue.judged = true;
        const QString id = nvidiaDeviceId(modalias);
        const QStringList naming = snapshot.idLists.listsNaming(id);
        QStringList unpackaged;
        bool fromLists = false;
        for (const QString &list : naming) {
            const QString name = driverPackageForList(list);
            if (name.isEmpty()) {
                continue;
            }
            const PackageInfo *package = snapshot.find(name);
            if (!package || !package->hasCandidate()) {
                unpackaged.append(list);
                continue;
            }
            fromLists = true;
            const int known = indexOf(drivers, name);
            if (known >= 0) {
                drivers[known].supported = true;
            } else {
                NvidiaDriver driver = record(*package);
                driver.supported = true;
                drivers.append(driver);
            }
        }
        // The open modules build against the driver of exactly their own version: with any
        // other, the pair cannot be installed together.
        const PackageInfo *open = snapshot.find(openModules);
        const PackageInfo *driver = snapshot.find(currentDriver);
        if (naming.contains(openList) && open && driver && open->hasCandidate() && open->candidateVersion == driver->candidateVersion
            && indexOf(drivers, openModules) < 0) {
            NvidiaDriver entry = record(*open);
            entry.type = NvidiaDriverType::Open;
            entry.companions = QStringList{currentDriver};
            drivers.append(entry);
            fromLists = true;
        }
        if (!fromLists && !id.isEmpty()) {
            const bool nonFree = !snapshot.componentsKnown || snapshot.components.contains(QStringLiteral("non-free"));
            if (!unpackaged.isEmpty() && nonFree) {
                catalogue.notes.append(i18nd("drivers-module-lib",
                                             "No driver package of this release supports this adapter; NVIDIA lists it only for the older series %1. "
                                             "The in-kernel nouveau driver stays in use.",
                                             unpackaged.join(QStringLiteral(", "))));
            } else if (naming.isEmpty()) {
                catalogue.notes.append(i18nd("drivers-module-lib",
                                             "This adapter is in none of the NVIDIA support lists of this release; "
                                             "the in-kernel nouveau driver stays in use."));
            }
        }
    } else {
        catalogue.notes.append(i18nd("drivers-module-lib",
                                     "The package nvidia-detect is needed to judge which NVIDIA driver supports this adapter; "
                                     "the drivers are offered without that judgement."));
        for (const PackageInfo &package : snapshot.packages) {
            if (isSeriesDriverName(package.name) && package.hasCandidate() && indexOf(drivers, package.name) < 0) {
                drivers.append(record(package));
            }
        }
    }
    markRecommendedDriver(drivers);
    return catalogue;
}

QList<Match> compatiblePackages(const Snapshot &snapshot, const QString &modalias)
{
    QList<Match> matches = aliasMatches(snapshot, modalias);
    const QString id = nvidiaDeviceId(modalias);
    const Catalogue catalogue = id.isEmpty() ? Catalogue() : nvidiaCatalogue(snapshot, modalias);
    const QStringList naming = snapshot.idLists.listsNaming(id);
    for (const NvidiaDriver &driver : catalogue.drivers) {
        const bool offered = catalogue.judged && (driver.supported || driver.type == NvidiaDriverType::Open);
        auto listed = std::find_if(matches.begin(), matches.end(), [&](const Match &m) {
            return m.name == driver.name;
        });
        if (offered && listed == matches.end()) {
            Match match;
            match.name = driver.name;
            match.installed = driver.installed;
            matches.append(match);
            listed = matches.end() - 1;
        }
        if (listed == matches.end()) {
            continue;
        }
        // The lists that named it: a series list through its driver package, the open list
        // through the open modules.
        for (const QString &list : naming) {
            const bool names = driver.name == openModules ? list == openList : driverPackageForList(list) == driver.name;
            if (names) {
                listed->nvidiaIdLists.append(list);
            }
        }
        listed->recommended = offered && driver.recommended;
    }
    std::sort(matches.begin(), matches.end(), [&](const Match &a, const Match &b) {
        const int ra = snapshot.cacheOrder.value(a.name, -1);
        const int rb = snapshot.cacheOrder.value(b.name, -1);
        return ra != rb ? ra < rb : a.name < b.name;
    });
    return matches;
}

QString missingComponentsNote(const Snapshot &snapshot)
{
    if (!snapshot.componentsKnown) {
        return QString();
    }
    QStringList missing;
    for (const char *component : {"contrib", "non-free", "non-free-firmware"}) {
        if (!snapshot.components.contains(QLatin1String(component))) {
            missing.append(QLatin1String(component));
        }
    }
    if (missing.isEmpty()) {
        return QString();
    }
    return i18nd("drivers-module-lib",
                 "The package sources do not enable the %1 component(s), so no driver or firmware from there can be offered.",
                 missing.join(QStringLiteral(", ")));
}

bool buildsWithDkms(const PackageInfo &package)
{
    if (package.name.endsWith(QLatin1String("-dkms"))) {
        return true;
    }
    return std::any_of(package.dependsFirst.cbegin(), package.dependsFirst.cend(), [](const QString &name) {
        return name.endsWith(QLatin1String("-dkms"));
    });
}

QStringList kernelHeaders(const QString &kernelRelease, const std::function<const PackageInfo *(const QString &)> &lookup)
{
    QStringList names{QStringLiteral("linux-headers-") + kernelRelease};
    // "6.1.0-18-amd64" -> "amd64", "6.1.0-18-rt-amd64" -> "rt-amd64",
    // "6.12.38+deb13-amd64" -> "amd64"
    static const QRegularExpression abi(QStringLiteral("^[0-9][^-]*(-[0-9][^-]*)?-([a-z].*)$"));
    const QRegularExpressionMatch m = abi.match(kernelRelease);
    if (m.hasMatch()) {
        names.append(QStringLiteral("linux-headers-") + m.captured(2));
    }
    for (const QString &name : std::as_const(names)) {
        const PackageInfo *package = lookup(name);
        if (package && package->installed()) {
            return {};
        }
    }
    for (const QString &name : std::as_const(names)) {
        const PackageInfo *package = lookup(name);
        if (package && package->hasCandidate()) {
            return {name};
        }
    }
    return {};
}

QSet<QString> packagesInUse(const Snapshot &snapshot, const QString &modulePath, const std::function<QString(const QString &)> &owner, const QString &srcRoot)
{
    QSet<QString> inUse;
    if (modulePath.isEmpty()) {
        return inUse;
    }
    // dpkg records the files under the names its packages ship; on merged-/usr the same file
    // is reachable under /lib and /usr/lib.
    QStringList paths{modulePath};
    if (modulePath.startsWith(QLatin1String("/usr/lib/"))) {
        paths.append(modulePath.mid(4));
    } else if (modulePath.startsWith(QLatin1String("/lib/"))) {
        paths.append(QStringLiteral("/usr") + modulePath);
    }
    for (const QString &path : std::as_const(paths)) {
        const QString name = owner(path);
        if (!name.isEmpty()) {
            inUse.insert(name);
            return inUse;
        }
    }
    if (!modulePath.contains(QLatin1String("/updates/dkms/"))) {
        return inUse;
    }
    // A module DKMS built belongs to no package; its source folder does.
    QString base = modulePath.section(QLatin1Char('/'), -1);
    base.truncate(base.indexOf(QLatin1String(".ko")) < 0 ? base.size() : base.indexOf(QLatin1String(".ko")));
    const QStringList sources = QDir(srcRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    QStringList words = base.split(QLatin1Char('-'));
    while (!words.isEmpty()) {
        const QString prefix = words.join(QLatin1Char('-')) + QLatin1Char('-');
        for (const QString &dir : sources) {
            if (dir.startsWith(prefix) && dir.size() > prefix.size() && dir.at(prefix.size()).isDigit()) {
                const QString name = owner(srcRoot + QLatin1Char('/') + dir);
                if (!name.isEmpty()) {
                    inUse.insert(name);
                }
            }
        }
        if (!inUse.isEmpty()) {
            return inUse;
        }
        words.removeLast();
    }
    if (base.startsWith(QLatin1String("nvidia"))) {
        for (const PackageInfo &package : snapshot.packages) {
            if (package.installed() && isNvidiaCandidateName(package.name)) {
                inUse.insert(package.name);
            }
        }
    }
    return inUse;
}

QStringList removalCandidates(const Snapshot &snapshot, const QSet<QString> &inUse)
{
    QSet<QString> declaring;
    for (const AliasComponent &component : snapshot.appstream) {
        if (!component.patterns.isEmpty()) {
            for (const QString &name : component.packages) {
                declaring.insert(name);
            }
        }
    }
    QStringList result;
    for (const PackageInfo &package : snapshot.packages) {
        if (!package.installed() || inUse.contains(package.name)) {
            continue;
        }
        const bool declares = !package.modaliases.isEmpty() || declaring.contains(package.name) || isSeriesDriverName(package.name)
            || package.name == openModules || isPatternDriver(package);
        if (!declares) {
            continue;
        }
        // Removing it would purge the package in use with it.
        const bool needsInUse = std::any_of(package.dependsAll.cbegin(), package.dependsAll.cend(), [&](const QString &name) {
            return inUse.contains(name);
        });
        if (!needsInUse) {
            result.append(package.name);
        }
    }
    return result;
}
}
