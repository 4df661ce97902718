// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The module behind Changes::handler: the actions that need the package database or the
// privileged helper.
#include "changes.h"
#include "helperclient.h"
#include "intelaccel.h"
#include "packages.h"
#include "switching.h"

#include <QHash>

namespace
{
// The switching actions talk to the privileged helper through KAuth.
ActionEntry::Handler throughHelper(int (*handler)(const QStringList &, QList<Device> &, IHelperRunner &))
{
    return [handler](const QStringList &args, QList<Device> &gpus) {
        KAuthHelperRunner runner;
        return handler(args, gpus, runner);
    };
}
}

extern "C" Q_DECL_EXPORT int corvoAdminDriverRunChange(const QString &action, const QStringList &args, QList<Device> &gpus)
{
    static const QHash<QString, ActionEntry::Handler> handlers = {
        {QStringLiteral("list-packages"), Packages::listPackages},
        {QStringLiteral("set-module"), throughHelper(Switching::setModule)},
        {QStringLiteral("set-xorg"), throughHelper(Switching::setXOrg)},
        {QStringLiteral("intel-accel-status"), IntelAccel::status},
        {QStringLiteral("intel-accel-enable"), IntelAccel::enableOrDisable},
        {QStringLiteral("intel-accel-disable"), IntelAccel::enableOrDisable},
        {QStringLiteral("intel-accel-set-guc"), IntelAccel::setGuc},
        {QStringLiteral("intel-accel-set-fbc"), IntelAccel::setFbc},
    };
    const ActionEntry::Handler handler = handlers.value(action);
    return handler ? handler(args, gpus) : -1;
}
