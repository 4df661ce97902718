// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "driverpackages.h"

namespace QApt
{
class Backend;
class Package;
}

// Reads a DriverPackages::Snapshot from the real inputs: APT (through QApt and one pass over
// its package indexes), the AppStream catalogue (through AppStreamQt) and nvidia-detect's id
// lists.
namespace DriverPackages
{
struct Locations {
    QString idListDir; // nvidia-detect's lists
    QStringList appStreamDirs; // empty: AppStream's own system catalogue
    QString appStreamCacheDir; // with appStreamDirs: where AppStream may keep its cache
};
Locations systemLocations();

// How long each phase of load() took, for the debug log and the benchmark.
struct LoadTimes {
    qint64 indexScanMs = 0;
    qint64 appStreamMs = 0;
    qint64 idListsMs = 0;
    qint64 packagesMs = 0;
    qint64 cacheMs = 0; // loadFromCache(): opening APT's cache and policy
};

// The modalias patterns of every AppStream component that provides some.
QList<AliasComponent> readAppStream(const Locations &locations);

// What the source keeps of one QApt package; the Modaliases field only when asked, since
// reading a field jumps to the package's record in the index files.
PackageInfo packageInfo(const QApt::Package &package, bool readModaliases);

// The snapshot of an initialised backend: the packages that a Modaliases field, the AppStream
// catalogue or the NVIDIA driver names make relevant.
Snapshot load(QApt::Backend &backend, const Locations &locations, LoadTimes *times = nullptr);

// The same snapshot read from APT's cache directly, for a program that only reads: it asks
// APT's policy for the candidates of the relevant packages alone, where an initialised
// backend has first computed the candidate and dependency state of every package of the
// archive (most of its start-up time on a full archive). False, with APT's message in
// error, when the cache cannot be opened.
bool loadFromCache(Snapshot &snapshot, const Locations &locations, QString *error, LoadTimes *times = nullptr);
}
