// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// A reader of the plainest shell files: comments, blank lines and commands made only of
// variable assignments whose values hold literal, single-quoted and double-quoted text. It
// reads them as dash does (the shell update-grub sources /etc/default/grub with) and gives the
// assignments in order. Anything else, a command, an expansion, an operator, a NUL byte or an
// unfinished quote, makes it return false: such a file is not one of these.
namespace ShAssignments
{
using Assignment = QPair<QByteArray, QByteArray>; // (name, value)
bool read(const QByteArray &text, QList<Assignment> *assignments);
}
