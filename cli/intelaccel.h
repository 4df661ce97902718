// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device.h"

#include <QList>
#include <QStringList>

// The Intel acceleration actions: they need an Intel adapter on the machine but do not pick
// one; the settings are the kernel's, for all Intel adapters alike.
namespace IntelAccel
{
int status(const QStringList &args, QList<Device> &gpus);
int setGuc(const QStringList &args, QList<Device> &gpus);
int setFbc(const QStringList &args, QList<Device> &gpus);
// Shared by intel-accel-enable and intel-accel-disable; the action name decides.
int enableOrDisable(const QStringList &args, QList<Device> &gpus);
}
