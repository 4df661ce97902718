#include "packages.h"
#include "cli_debug.h"
#include "driverpackagesource.h"
#include "gpulookup.h"
#include "output.h"
#include "secureboot.h"

#include <QApt/Backend>

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

    const DriverPackages::Snapshot snapshot = DriverPackages::load(backend, DriverPackages::systemLocations());
    const qint64 loadMs = timer.restart();

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
