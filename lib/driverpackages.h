// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "nvidiadrivermodel.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

// The one source of driver packages for an adapter, shared by list-packages, the installer and
// the remover. A Debian archive says which hardware a package serves in three places:
//  - the "Modaliases" control field (kernel module name and alias patterns), which some
//    archives carry;
//  - the AppStream catalogue, whose components provide modalias glob patterns (Debian's
//    firmware packages publish their hardware only there);
//  - the device id lists of nvidia-detect, one file per NVIDIA driver series, which say which
//    NVIDIA driver package supports which adapter.
// Everything here works on a snapshot of what those inputs say, so that the rules can be
// exercised without a package cache.
namespace DriverPackages
{
// What the source needs to know of one APT package.
struct PackageInfo {
    QString name;
    QString modaliases; // the "Modaliases" field of the record APT uses, empty when absent
    QString candidateVersion; // full version APT would install, empty without a candidate
    QString installedVersion; // empty when not installed
    QString shortDescription;
    QStringList dependsFirst; // the first alternative of every Depends group
    QStringList dependsAll; // every alternative of every Depends group

    bool installed() const
    {
        return !installedVersion.isEmpty();
    }
    bool hasCandidate() const
    {
        return !candidateVersion.isEmpty();
    }
};

// One AppStream component that provides modalias patterns.
struct AliasComponent {
    QStringList packages;
    QStringList patterns;
};

// The NVIDIA device id lists: list name ("nvidia", "nvidia-open", "nvidia-tesla-470", ...) to
// the ids it holds ("10DE2504").
struct NvidiaIdLists {
    bool present = false; // at least one list could be read
    QHash<QString, QSet<QString>> lists;

    // Reads every "<name>.ids" file of the folder.
    static NvidiaIdLists read(const QString &dir);
    // The ids of one list file: one per line, blanks and empty lines ignored, upper-cased.
    static QSet<QString> parse(const QByteArray &text);
    // The names of the lists holding the id, sorted.
    QStringList listsNaming(const QString &id) const;
};

// Everything the inputs say, restricted to the packages that matter for drivers.
struct Snapshot {
    QList<PackageInfo> packages; // sorted by name, each name once
    QList<AliasComponent> appstream;
    NvidiaIdLists idLists;
    QSet<QString> components; // archive components the package sources enable
    QHash<QString, int> cacheOrder; // a package's place in the package cache, for listings
    bool componentsKnown = false;

    const PackageInfo *find(const QString &name) const;
};

// Whether a kernel-style glob pattern ("*", "?", "[...]") matches the whole modalias, as the
// kernel matches module aliases.
bool globMatches(const QString &pattern, const QString &modalias);

// "pci:v000010DEd00002504sv..." -> "10DE2504"; empty for anything else.
QString nvidiaDeviceId(const QString &modalias);

// The driver package of an id list: "nvidia" -> "nvidia-driver",
// "nvidia-tesla-470" -> "nvidia-tesla-470-driver"; empty for "nvidia-open", whose adapters
// take the open kernel modules instead.
QString driverPackageForList(const QString &listName);

// The package names the source asks APT about besides those named by a Modaliases field or
// by AppStream: the driver packages of the id lists, the open kernel modules, and the driver
// names with the "nvidia-driver-" pattern.
bool isNvidiaCandidateName(const QString &name);

// Whether a package name names the open kernel module variant: a "-open" word in the name,
// so that library packages like nvidia-opencl-icd are not taken for it.
bool namesOpenVariant(const QString &name);

// The upstream part of a Debian version: no epoch, no Debian revision.
QString upstreamVersion(const QString &version);

// A package that a field, an AppStream pattern or an NVIDIA id list ties to the adapter, and
// which of them do.
struct Match {
    QString name;
    bool installed = false;
    bool byModaliasesField = false; // the package's Modaliases field matches
    bool byAppStream = false; // an AppStream component of the package provides a matching pattern
    QStringList nvidiaIdLists; // the id lists naming the adapter whose driver this package is, sorted
    bool recommended = false; // the NVIDIA driver the catalogue recommends for the adapter
};
// Packages whose Modaliases field or AppStream patterns match the modalias, by name.
QList<Match> aliasMatches(const Snapshot &snapshot, const QString &modalias);

// The NVIDIA driver packages on offer for one adapter.
struct Catalogue {
    QList<NvidiaDriver> drivers; // in the order found; the recommendation is marked
    bool judged = false; // the id lists were there to say which driver supports the adapter
    QStringList notes; // plain sentences for the administrator
};
Catalogue nvidiaCatalogue(const Snapshot &snapshot, const QString &modalias);

// Marks the greatest record by (supported, version) as recommended; the earlier one wins a
// tie. Marks nothing in an empty list.
void markRecommendedDriver(QList<NvidiaDriver> &drivers);

// Every package list-packages prints for the adapter, in the package cache's order: the alias
// matches and, for an NVIDIA adapter, the drivers the id lists say support it (named by those
// lists in nvidiaIdLists, the recommended one marked).
QList<Match> compatiblePackages(const Snapshot &snapshot, const QString &modalias);

// One sentence naming the archive components the sources lack, empty when none is missing or
// the components are not known.
QString missingComponentsNote(const Snapshot &snapshot);

// Whether installing the package builds kernel modules with DKMS: a "-dkms" package itself or
// one that depends on one first.
bool buildsWithDkms(const PackageInfo &package);

// The kernel headers to install with a DKMS driver for the running kernel: the release's own
// package when the archive has it, else the flavour's meta package; nothing when already
// installed or not in the archive.
QStringList kernelHeaders(const QString &kernelRelease, const std::function<const PackageInfo *(const QString &)> &lookup);

// The packages that must never be offered for removal because the module in use is theirs.
// owner(path) gives the package that owns a file (empty when none). The module's own file
// is looked up as given and under its other merged-/usr name; a module built by DKMS is
// found through its source folder below srcRoot ("<module>-<version>"). When that fails too,
// every installed NVIDIA catalogue package counts as in use for a DKMS-built NVIDIA module.
QSet<QString> packagesInUse(const Snapshot &snapshot, const QString &modulePath, const std::function<QString(const QString &)> &owner, const QString &srcRoot);

// Installed packages that declare hardware (a Modaliases field, AppStream modalias patterns,
// an NVIDIA driver package), without those in use and without those whose removal would take
// one in use along (they depend on it). Sorted by name.
QStringList removalCandidates(const Snapshot &snapshot, const QSet<QString> &inUse);
}
