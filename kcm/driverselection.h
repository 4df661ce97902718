// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "xorgdrivers.h"

#include <QList>
#include <QString>

class Device;

// The decisions of the main window that need no widgets: which adapter renders the desktop,
// and what the lists offer.
namespace DriverSelection
{
// A combo box's content: item texts and values, and the row to select (-1 for none).
using ListFill = XOrgDrivers::ScanResult;

// Whether a word of the adapter's vendor or model name occurs in the renderer string, which
// must already be in lower case.
bool matchesRenderer(const Device &device, const QString &lowerRenderer);

// Sets the active mark of every adapter. A lone adapter is always the one that renders; with
// several, each whose name matches the renderer is marked (possibly several, possibly none).
void markActiveAdapters(QList<Device> &gpus, const QString &renderer);

// "PCI:00@0000:02:0: HD Graphics 630"
QString adapterItemText(const Device &device);

// The adapter the window opens on: the last one marked active, else the first.
int initialAdapterIndex(const QList<Device> &gpus);

// The kernel modules of the adapter, the one in use marked " (current)" and selected; without
// a marked one the first row is selected.
ListFill kernelModuleList(const Device &device);
}
