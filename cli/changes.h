// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "actiontable.h"

// The package, switching and Intel actions need QApt, apt-pkg and KAuth; they live in a module
// of their own (changeactions.cpp) that the program loads only when one of them runs, so that
// the listing actions start without those libraries.
namespace Changes
{
// Runs the action of this name from the module.
ActionEntry::Handler handler(const QString &action);
}

// The module's one entry point: runs the named action and returns its exit status.
extern "C" {
using CorvoRunChange = int (*)(const QString &action, const QStringList &args, QList<Device> &gpus);
}
#define CORVO_RUN_CHANGE_SYMBOL "corvoAdminDriverRunChange"
