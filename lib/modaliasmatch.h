// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// Matching of a package's declared hardware aliases against an adapter's modalias.
//
// A package's "Modaliases" control field holds a module name and a parenthesised list of
// alias patterns separated by ", ", e.g.
//     nvidia(pci:v000010DEd00001C03sv*sd*bc03sc*i*, pci:v000010DEd00001C02sv*sd*bc03sc*i*)
// In a pattern "*" stands for at least one arbitrary character; every other character stands
// for itself.
namespace ModaliasMatch
{
// The alias patterns of a field: the text after the first "(" with the first ")" removed,
// split at ", ". Only the first parenthesised group is opened; text after its ")" stays part
// of the last patterns. Empty parts are kept.
QStringList patterns(const QString &field);

// Whether one pattern matches somewhere inside the modalias. An empty pattern declares
// nothing and never matches.
bool patternMatches(const QString &pattern, const QString &modalias);

// Whether any pattern of the field matches the modalias.
bool matches(const QString &field, const QString &modalias);
}
