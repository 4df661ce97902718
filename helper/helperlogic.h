// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// The decisions of the privileged helper, kept free of files, processes and D-Bus so they can be
// checked in-process.
namespace HelperLogic
{
// NVIDIA's PCI vendor identifier: selects the layout with a Module section.
constexpr int nvidiaVendorId = 0x10de;

// True when the text can be placed between double quotes of an X configuration line without
// ending the quotes, the line or the file: no double quote, no backslash, no line break and no
// other control character (NUL included).
bool isSafeConfigValue(const QString &value);

// True for "PCI:<hex>@<hex>:<hex>:<hex>" (the form the clients send, sysfs hex digits).
bool isValidBusId(const QString &busId);

// The X server reads the BusID numbers in decimal: "PCI:0b@0000:00:0" -> "PCI:11@0000:00:0".
// Every field keeps at least the width it had. Returns an empty text for an invalid bus id.
QString xorgBusId(const QString &busId);

// The snippet of a driver switch: a Module section for NVIDIA adapters, then the Device section.
QString buildXOrgSnippet(int vendorId, const QString &modelName, const QString &driver, const QString &busId);

// The tearing configuration file for one X driver.
QString buildTearingConfig(const QString &driverName, const QString &tearFree);

// True when "<driver>_drv.so" lies somewhere below one of the folders. The name is compared as
// it is (no wildcards), so "*" or "../x" never match anything.
bool xorgDriverExists(const QString &driver, const QStringList &driverDirs);

// Checks a new "/etc/default/grub" against the current one, byte for byte. The file is shell
// code that update-grub sources as root, so a new content is accepted only when it equals the
// current one except inside the double-quoted value of the one active
// GRUB_CMDLINE_LINUX_DEFAULT line, and that value is made of kernel parameters
// ([A-Za-z0-9._,:=/+-], single spaces between them, at most maxCmdlineValueBytes bytes).
// "Active" is judged as the shell reads the file: a line inside a multi-line quoted value of
// another variable is no line of its own. Returns an empty text when the content is
// acceptable, otherwise the reason.
constexpr int maxCmdlineValueBytes = 4096;
QString checkGrubContent(const QByteArray &current, const QByteArray &proposed);

// The dependency purge rule of a removal. nameSet holds the names of every dependency
// alternative and recommendation of the removed package plus its own name. A name is purged when
// its package exists, was installed automatically (purging deletes the configuration files of a
// package the administrator chose), is not one the system cannot do without (Essential, Priority
// required), and none of the packages requiring it is an existing, installed package outside
// the name set. Returns the names to purge, in name-set order, each once.
struct PackageFacts {
    std::function<bool(const QString &)> exists;
    std::function<bool(const QString &)> isInstalled;
    std::function<bool(const QString &)> isAutoInstalled;
    std::function<bool(const QString &)> isProtected;
    std::function<QStringList(const QString &)> requiredBy;
};
QStringList namesToPurge(const QStringList &nameSet, const PackageFacts &facts);

// The package worker marks the packages it is sent once more, one by one in name order, each
// with automatic dependency resolution: a dependency with alternatives that nothing marked so
// far satisfies is resolved to its first installable alternative. When the helper's own marks
// meet such a group through a later alternative (nvidia-driver's module dependency through the
// open modules, which sort after it), the worker would also install the earlier one.
// groups holds the dependency groups of every package marked for installation, each as its
// alternatives' names in order. Returns the names of the alternatives before the first
// satisfied one that are installable, each once, in group order: the worker is told to keep
// them out. A group that nothing satisfies, or whose first alternative does, gives none.
struct AlternativeFacts {
    // The alternative is met by an installed package or one marked for installation (by its
    // name or through what such a package provides).
    std::function<bool(const QString &)> isSatisfied;
    // A real package with a candidate version, neither installed nor marked.
    std::function<bool(const QString &)> isInstallable;
};
QStringList alternativesToKeepOut(const QList<QStringList> &groups, const AlternativeFacts &facts);
}
