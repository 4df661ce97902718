// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "actiontable.h"

#include <QCommandLineOption>
#include <QMap>

class QCommandLineParser;

// corvo-admin-driver --json ACTION ...: the listing actions print one JSON document instead of
// their lines, and every failure, a wrong command line included, becomes {"error": "..."} with
// the exit status the plain run has.
namespace JsonCommand
{
// The --json option; not in the help text, which stays as it is.
QCommandLineOption option();

// Runs the action the parsed command line names and prints its document; returns the exit
// status.
int run(QCommandLineParser &parser, const QMap<QString, ActionEntry> &actions);
}
