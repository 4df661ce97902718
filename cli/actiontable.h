// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

// One action of the command line: its handler gets the positional arguments (the action name
// first) and the probed adapters, and returns the exit status (0, or -1 for failure).
struct ActionEntry {
    using Handler = std::function<int(const QStringList &args, QList<Device> &gpus)>;

    QString name;
    Handler handler;
    QList<QPair<QString, QString>> arguments; // (name, description), in order
    QString description;
    // What the handler reads of the adapters; the probe finds out no more.
    ProbeDetail probe = ProbeDetail::Complete;
};

// All actions, keyed and ordered by name. Texts are translated, so build it once the
// application object exists.
QMap<QString, ActionEntry> buildActionTable();
