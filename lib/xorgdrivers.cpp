#include "xorgdrivers.h"
#include "device.h"
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
        QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden,
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

ScanResult scan(const Device &device, const QStringList &dirs)
{
    ScanResult result;
    const QString inUse = device.xorgDriver();
    for (const QString &name : installedDrivers(dirs)) {
        if (!inUse.isEmpty() && device.isActive() && name.startsWith(inUse, Qt::CaseInsensitive)) {
            result.entries.append({name + currentSuffix, name});
            result.selected = result.entries.size() - 1;
            break;
        }
        result.entries.append({name, name});
    }
    return result;
}

QString resolveTag(const QString &tag, const QStringList &dirs)
{
    if (tag.isEmpty()) {
        return QString();
    }
    for (const QString &name : installedDrivers(dirs)) {
        if (name.startsWith(tag, Qt::CaseInsensitive)) {
            return name;
        }
    }
    return QString();
}

ScanResult scan(const Device &device)
{
    return scan(device, SystemPaths::xorgDriverDirs());
}

QStringList cliListing(const QString &xorgDriver, const QStringList &dirs)
{
    QStringList lines;
    for (const QString &name : installedDrivers(dirs)) {
        lines.append(name.contains(xorgDriver) ? name + currentSuffix : name);
    }
    return lines;
}
}
