// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device.h"

#include <QList>
#include <QStringList>

namespace Packages
{
// Lists the APT packages whose declared hardware aliases match the adapter.
int listPackages(const QStringList &args, QList<Device> &gpus);
}
