// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later

// The JSON forms of the change module's read-only actions: list-packages and
// intel-accel-status.
#include "driverpackagesource.h"
#include "gpulookup.h"
#include "intelvideoconfigurator.h"
#include "jsonoutput.h"
#include "output.h"
#include "secureboot.h"

#include <KLocalizedString>

#include <QApt/Backend>

#include <QHash>
#include <QJsonArray>

#include <algorithm>

namespace
{
QString secureBootText(SecureBoot::State state)
{
    switch (state) {
    case SecureBoot::State::NoTool:
        return QStringLiteral("unknown");
    case SecureBoot::State::Off:
        return QStringLiteral("off");
    case SecureBoot::State::KeyEnrolled:
        return QStringLiteral("keyEnrolled");
    case SecureBoot::State::KeyNotEnrolled:
        return QStringLiteral("keyNotEnrolled");
    }
    return QStringLiteral("unknown");
}

QJsonObject packageObject(const DriverPackages::Match &match)
{
    QJsonArray matchedBy;
    if (match.byModaliasesField) {
        matchedBy.append(QStringLiteral("modaliasesField"));
    }
    if (match.byAppStream) {
        matchedBy.append(QStringLiteral("appStreamPattern"));
    }
    if (!match.nvidiaIdLists.isEmpty()) {
        matchedBy.append(QStringLiteral("nvidiaIdList"));
    }
    return QJsonObject{
        {QStringLiteral("name"), match.name},
        {QStringLiteral("installed"), match.installed},
        {QStringLiteral("recommended"), match.recommended},
        {QStringLiteral("matchedBy"), matchedBy},
        {QStringLiteral("nvidiaIdLists"), QJsonArray::fromStringList(match.nvidiaIdLists)},
    };
}

int listPackages(const QStringList &args, QList<Device> &gpus, QJsonObject &document)
{
    const auto gpu = findGpu(args.value(1), gpus);
    if (gpu == gpus.end()) {
        return -1;
    }
    QApt::Backend backend;
    if (!backend.init()) {
        Output::line(backend.initErrorMessage());
        return -1;
    }
    const DriverPackages::Snapshot snapshot = DriverPackages::load(backend, DriverPackages::systemLocations());
    QJsonArray packages;
    for (const DriverPackages::Match &match : DriverPackages::compatiblePackages(snapshot, gpu->modalias())) {
        packages.append(packageObject(match));
    }
    document.insert(QStringLiteral("gpu"), JsonOutput::gpuObject(*gpu));
    document.insert(QStringLiteral("packages"), packages);
    document.insert(QStringLiteral("secureBoot"), secureBootText(SecureBoot::query()));
    return 0;
}

int intelAccelStatus(const QStringList &, QList<Device> &gpus, QJsonObject &document)
{
    const bool intel = std::any_of(gpus.cbegin(), gpus.cend(), [](const Device &gpu) {
        return gpu.videoCardVendorId() == Intel;
    });
    if (!intel) {
        Output::line(i18n("Intel GPU is missing."));
        return -1;
    }
    IntelVideoConfigurator configurator;
    // A missing file would read as mode 0 and compression off, which it is not.
    const QString problem = configurator.readProblem();
    if (!problem.isEmpty()) {
        Output::line(problem);
        return -1;
    }
    document.insert(QStringLiteral("gucMode"), int(configurator.gucMode()));
    document.insert(QStringLiteral("frameBufferCompression"), configurator.fbcIsEnable());
    document.insert(QStringLiteral("hardwareAccelerationEnabled"), configurator.isHardwareAccelerationEnabled());
    return 0;
}
}

extern "C" Q_DECL_EXPORT int corvoAdminDriverRunJson(const QString &action, const QStringList &args, QList<Device> &gpus, QByteArray &document)
{
    static const QHash<QString, JsonOutput::Handler> handlers = {
        {QStringLiteral("list-packages"), listPackages},
        {QStringLiteral("intel-accel-status"), intelAccelStatus},
    };
    const JsonOutput::Handler handler = handlers.value(action);
    if (!handler) {
        document = JsonOutput::errorDocument(i18n("The action %1 has no JSON output.", action));
        return -1;
    }
    return JsonOutput::run(handler, args, gpus, document);
}
