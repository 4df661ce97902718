// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device.h"

#include <QList>
#include <QStringList>

namespace Listing
{
int listGpus(const QStringList &args, QList<Device> &gpus);
int listModules(const QStringList &args, QList<Device> &gpus);
int listXOrg(const QStringList &args, QList<Device> &gpus);
}
