// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device.h"

#include <QList>
#include <QStringList>

class IHelperRunner;

// The actions that switch an adapter's kernel module or X server driver through the
// privileged helper's replace action.
namespace Switching
{
// Sends the replace request for the adapter. An empty driver name means the X driver of the
// adapter's chosen module. Returns whether the helper did the switch; failures are logged.
bool sendReplace(const Device &gpu, const QString &driver, IHelperRunner &runner);

int setModule(const QStringList &args, QList<Device> &gpus, IHelperRunner &runner);
int setXOrg(const QStringList &args, QList<Device> &gpus, IHelperRunner &runner);
}
