// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class Device;

namespace XOrgDrivers
{
// The X server driver names found in the given folders ("intel_drv.so" gives "intel"), in
// folder order and, inside a folder, in directory-iterator order with symbolic links followed.
// Not de-duplicated: a driver installed in two folders is named twice.
QStringList installedDrivers(const QStringList &dirs);

struct Entry {
    QString label; // the name, with " (current)" for the driver in use
    QString value; // the plain driver name
};

struct ScanResult {
    QList<Entry> entries;
    int selected = -1; // index in entries of the driver in use, or -1
};

// The installed X driver the X log's driver tag stands for: the first one whose name starts
// with the tag, compared case-insensitively ("modeset" is modesetting, "NVIDIA" nvidia); empty
// when the tag is empty (the X driver in use is not known) or names no installed driver.
QString driverInUse(const QString &xorgTag, const QStringList &installed);

// The list the control module offers for an adapter: every driver found. On the active adapter
// the driver in use is listed with " (current)" and selected.
ScanResult scan(const Device &device, const QStringList &dirs);
ScanResult scan(const Device &device);

// Every driver found, in installedDrivers() order; the driver in use is marked where the scan
// meets it first.
struct Listed {
    QString name;
    bool inUse = false;
};
QList<Listed> listedDrivers(const QString &xorgDriver, const QStringList &dirs);

// The command-line listing: every driver found, the one in use marked " (current)".
QStringList cliListing(const QString &xorgDriver, const QStringList &dirs);
}
