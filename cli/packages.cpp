// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "packages.h"
#include "cli_debug.h"
#include "driverpackagesource.h"
#include "gpulookup.h"
#include "output.h"
#include "secureboot.h"

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
    // Read-only: APT's cache and policy are asked about the relevant packages alone, without
    // the package state of the whole archive that a QApt backend computes first.
    DriverPackages::Snapshot snapshot;
    DriverPackages::LoadTimes times;
    QString error;
    if (!DriverPackages::loadFromCache(snapshot, DriverPackages::systemLocations(), &error, &times)) {
        Output::line(error);
        return -1;
    }
    const qint64 initMs = times.cacheMs;
    const qint64 loadMs = timer.restart() - initMs;

    const QList<DriverPackages::Match> matches = DriverPackages::compatiblePackages(snapshot, modalias);
    for (const DriverPackages::Match &match : matches) {
        Output::line(match.installed ? match.name + QStringLiteral(" (installed)") : match.name);
    }
    if (matches.isEmpty()) {
        Output::line(i18n("Cannot find any compatible driver packages"));
    }
    if (SecureBoot::query() == SecureBoot::State::KeyNotEnrolled) {
        Output::line(SecureBoot::warningLine());
    }
    qCDebug(CLI).nospace() << "list-packages: init " << initMs << " ms, sources " << loadMs << " ms, match and print " << timer.elapsed() << " ms";
    return 0;
}
}
