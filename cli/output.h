// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>

// The tool's one output stream on standard output: every message, errors included, is one
// line on it, flushed at once so that scripts see lines as they come.
namespace Output
{
void line(const QString &text);
// While a sink is set (a JSON run), lines are appended to it instead of printed; nullptr
// prints again. Each copy of this library (the program's, the change module's) has its own.
void holdBack(QStringList *sink);
}
