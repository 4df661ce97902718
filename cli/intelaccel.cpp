// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "intelaccel.h"
#include "intelvideoconfigurator.h"
#include "output.h"

#include <KLocalizedString>

#include <algorithm>

namespace IntelAccel
{
namespace
{
bool hasIntelGpu(const QList<Device> &gpus)
{
    const bool found = std::any_of(gpus.cbegin(), gpus.cend(), [](const Device &gpu) {
        return gpu.videoCardVendorId() == Intel;
    });
    if (!found) {
        Output::line(i18n("Intel GPU is missing."));
    }
    return found;
}

QString stateText(bool enabled)
{
    return enabled ? i18n("enabled") : i18n("disabled");
}

int reportError(const QString &message)
{
    Output::line(i18n("Error: %1", message));
    return -1;
}
}

int status(const QStringList &args, QList<Device> &gpus)
{
    Q_UNUSED(args)
    if (!hasIntelGpu(gpus)) {
        return -1;
    }
    IntelVideoConfigurator configurator;
    // A missing file would read as mode 0 and compression off, which it is not.
    const QString problem = configurator.readProblem();
    if (!problem.isEmpty()) {
        return reportError(problem);
    }
    Output::line(i18n("Current Intel GPU acceleration settings:"));
    Output::line(QLatin1Char('\t') + i18n("GuC mode: %1", QString::number(int(configurator.gucMode()))));
    Output::line(QLatin1Char('\t') + i18n("Frame Buffer Compression (FBC): %1", stateText(configurator.fbcIsEnable())));
    return 0;
}

int setGuc(const QStringList &args, QList<Device> &gpus)
{
    if (!hasIntelGpu(gpus)) {
        return -1;
    }
    // Exactly one digit: toInt would also take " 3" or "+2".
    const QString value = args.value(1);
    const bool valid = value.size() == 1 && value.at(0) >= QLatin1Char('0') && value.at(0) <= QLatin1Char('3');
    const int number = valid ? value.at(0).digitValue() : -1;
    if (!valid) {
        Output::line(i18n("Invalid argument: %1. Use values 0, 1, 2, or 3.", value));
        return -1;
    }
    IntelVideoConfigurator configurator;
    const QString error = configurator.setGucMode(static_cast<GucMode>(number));
    if (!error.isEmpty()) {
        return reportError(error);
    }
    Output::line(i18n("GuC mode successfully set to %1.", QString::number(number)));
    return 0;
}

int setFbc(const QStringList &args, QList<Device> &gpus)
{
    if (!hasIntelGpu(gpus)) {
        return -1;
    }
    const QString value = args.value(1);
    if (value != QLatin1String("0") && value != QLatin1String("1")) {
        Output::line(i18n("Invalid argument: %1. Use 0 (disable) or 1 (enable).", value));
        return -1;
    }
    const bool enable = value == QLatin1String("1");
    IntelVideoConfigurator configurator;
    const QString error = configurator.setFbcMode(enable);
    if (!error.isEmpty()) {
        return reportError(error);
    }
    Output::line(i18n("Frame Buffer Compression (FBC) successfully %1.", stateText(enable)));
    return 0;
}

int enableOrDisable(const QStringList &args, QList<Device> &gpus)
{
    if (!hasIntelGpu(gpus)) {
        return -1;
    }
    const bool enable = args.value(0) == QLatin1String("intel-accel-enable");
    IntelVideoConfigurator configurator;
    const QString error = configurator.setHardwareAccelerationEnabled(enable);
    if (!error.isEmpty()) {
        return reportError(error);
    }
    Output::line(i18n("Hardware acceleration successfully %1.", stateText(enable)));
    return 0;
}
}
