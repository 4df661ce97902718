// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device.h"

#include <QList>

// Finds the adapter an argument names: the first adapter, in probe order, whose model, X bus
// identifier, vendor name or PCI database name (as the control module shows it) equals the
// argument exactly; else the one adapter that equals it ignoring case, if only one does. When
// none is found it prints the lookup message and returns gpus.end().
QList<Device>::iterator findGpu(const QString &argument, QList<Device> &gpus);
