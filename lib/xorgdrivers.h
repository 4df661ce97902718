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

// The list the control module offers for an adapter. The driver in use is the first one whose
// name starts with the adapter's X driver tag (case-insensitively) on the active adapter; it is
// listed with " (current)", selected, and ends the list.
ScanResult scan(const Device &device, const QStringList &dirs);
ScanResult scan(const Device &device);

// The installed X driver an X log tag stands for ("modeset" -> "modesetting", "AMDGPU" ->
// "amdgpu"): the first driver found whose name starts with the tag, compared case-insensitively,
// the same rule scan() marks the driver in use by. Empty when the tag is empty or none matches.
QString resolveTag(const QString &tag, const QStringList &dirs);

// The command-line listing: every driver found, marked " (current)" whenever its name
// contains the adapter's X driver tag.
QStringList cliListing(const QString &xorgDriver, const QStringList &dirs);
}
