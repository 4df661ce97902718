// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QSet>
#include <QString>

// A cheap first pass over APT's package indexes for the driver package source: which package names have a
// "Modaliases" field in any stanza at all. Reading a field through QApt jumps to each package's
// record in the cache's order, which for a full archive means re-reading the index files tens of
// thousands of times; one sequential pass over the plain text lets the tool read the field only
// for the few packages that can have it. The set is a superset of the packages whose candidate
// record carries the field, so filtering by it never changes what is listed.
namespace AliasDeclarations
{
// Adds to names the "Package" value of every stanza in text that has a "Modaliases" field.
// Field names are matched without regard to case, as APT does; only an empty line ends a stanza,
// so text APT might split into more stanzas is taken as one and all its names are added.
void collect(const char *text, qsizetype size, QSet<QString> &names);

// Runs collect() over every package index the configured APT set-up builds its cache from: the
// Packages lists of all sources and the dpkg status file. Call it after QApt::Backend::init(),
// which has read the configuration. Compressed lists are read through APT's own decompressing
// reader. Returns false, with names unspecified, when an index cannot be read (an unreadable
// file, a damaged compressed list): the caller must then read the field of every package.
// When components is given, it receives the archive components ("main", "contrib",
// "non-free", ...) of every source whose package list was read.
bool collectFromIndexes(QSet<QString> &names, QSet<QString> *components = nullptr);
}
