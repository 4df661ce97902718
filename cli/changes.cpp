// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "changes.h"
#include "output.h"
#include "systempaths.h"

#include <KLocalizedString>

#include <QCoreApplication>
#include <QLibrary>

namespace Changes
{
ActionEntry::Handler handler(const QString &action)
{
    return [action](const QStringList &args, QList<Device> &gpus) {
        // Next to the program as it was built or installed; never unloaded.
        QLibrary module(QCoreApplication::applicationDirPath() + QLatin1Char('/') + SystemPaths::cliChangesModule());
        const auto run = reinterpret_cast<CorvoRunChange>(module.resolve(CORVO_RUN_CHANGE_SYMBOL));
        if (!run) {
            Output::line(i18n("The action %1 cannot be loaded: %2", action, module.errorString()));
            return -1;
        }
        return run(action, args, gpus);
    };
}
}
