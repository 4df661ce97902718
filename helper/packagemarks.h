// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace QApt
{
class Backend;
}

namespace PackageMarks
{
// Marks the named packages in an initialised backend: for installation, or for purge together
// with the dependencies and recommendations no installed package outside them still needs.
// Every name is looked up before anything is marked, so on failure no mark is left; the
// failure is "Cannot find package <name>" for the first unknown name, or a refusal naming the
// first Essential or Priority required package.
QString mark(QApt::Backend *backend, const QStringList &names, bool remove);

// After an install was marked: the packages the package worker, which marks the request again
// in name order, would pull in through an earlier alternative of a dependency the marks meet
// through a later one (see HelperLogic::alternativesToKeepOut).
QStringList alternativesToKeepOut(QApt::Backend *backend);

// The worker's instructions for the marks, as QApt's own commit sends them (packages marked
// only as dependencies are left for the worker to resolve again), plus each name of keepOut
// held back. Empty when a mark is of a kind this does not send (reinstall, downgrade).
QVariantMap instructions(QApt::Backend *backend, const QStringList &keepOut);
}
