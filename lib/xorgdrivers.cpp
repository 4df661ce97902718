// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "xorgdrivers.h"
#include "device.h"
#include "helperclient.h"
#include "systempaths.h"

#include <QDirIterator>
#include <QRegularExpression>

namespace XOrgDrivers
{
static const QString currentSuffix = QStringLiteral(" (current)");

static const QRegularExpression &driverFilePattern()
{
    static const QRegularExpression pattern(QStringLiteral("(^.+)_drv\\.so$"));
    return pattern;
}

QStringList installedDrivers(const QStringList &dirs)
{
    QStringList names;
    for (const QString &dir : dirs) {
        QDirIterator it(dir,
                        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden,
                        QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
        while (it.hasNext()) {
            it.next();
            const QRegularExpressionMatch match = driverFilePattern().match(it.fileName());
            if (match.hasMatch()) {
                names.append(match.captured(1));
            }
        }
    }
    return names;
}

QString driverInUse(const QString &xorgTag, const QStringList &installed)
{
    if (xorgTag.isEmpty()) {
        return QString();
    }
    for (const QString &name : installed) {
        if (name.startsWith(xorgTag, Qt::CaseInsensitive)) {
            return name;
        }
    }
    return QString();
}

ScanResult scan(const Device &device, const QStringList &dirs)
{
    ScanResult result;
    const QStringList installed = installedDrivers(dirs);
    const QString inUse = device.isActive() ? driverInUse(device.xorgDriver(), installed) : QString();
    for (const QString &name : installed) {
        // A driver found in two folders is the one in use only where the scan meets it first.
        if (result.selected < 0 && !inUse.isEmpty() && name == inUse) {
            result.entries.append({name + currentSuffix, name});
            result.selected = result.entries.size() - 1;
        } else {
            result.entries.append({name, name});
        }
    }
    return result;
}

ScanResult scan(const Device &device)
{
    return scan(device, SystemPaths::xorgDriverDirs());
}

QList<Listed> listedDrivers(const QString &xorgDriver, const QStringList &dirs)
{
    QList<Listed> drivers;
    const QStringList installed = installedDrivers(dirs);
    const QString inUse = driverInUse(xorgDriver, installed);
    bool marked = false;
    for (const QString &name : installed) {
        const bool current = !marked && !inUse.isEmpty() && name == inUse;
        marked = marked || current;
        drivers.append({name, current});
    }
    return drivers;
}

QStringList cliListing(const QString &xorgDriver, const QStringList &dirs)
{
    QStringList lines;
    for (const Listed &driver : listedDrivers(xorgDriver, dirs)) {
        lines.append(driver.inUse ? driver.name + currentSuffix : driver.name);
    }
    return lines;
}
}

// Declared with the helper requests that use it; defined here, away from KAuth, so that the
// listing actions of the command line can name a module's X driver too.
namespace HelperRequests
{
QString xorgDriverForModule(const Module &module, const QStringList &installedXOrgDrivers)
{
    // Debian renames flavoured modules ("nvidia_current", "nvidia-current-open"): their X
    // driver is the one of the family name in front.
    const QString family = module.trueName.section(QRegularExpression(QStringLiteral("[_-]")), 0, 0);
    for (const QString &candidate : {module.trueName, module.displayName, family}) {
        if (!candidate.isEmpty() && installedXOrgDrivers.contains(candidate)) {
            return candidate;
        }
    }
    return QStringLiteral("modesetting");
}
}
