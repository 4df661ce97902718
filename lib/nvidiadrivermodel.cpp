// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "nvidiadrivermodel.h"
#include "busconfig.h"
#include "systempaths.h"

#include <KLocalizedString>

#include <QProcess>

#include <algorithm>

NvidiaDriverModel::NvidiaDriverModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

void NvidiaDriverModel::setDrivers(const QList<NvidiaDriver> &drivers)
{
    beginResetModel();
    m_drivers = drivers;
    endResetModel();
}

QList<NvidiaDriver> NvidiaDriverModel::drivers() const
{
    return m_drivers;
}

static int typeRank(NvidiaDriverType type)
{
    switch (type) {
    case NvidiaDriverType::Proprietary:
        return 0;
    case NvidiaDriverType::Open:
        return 1;
    case NvidiaDriverType::NoDkms:
        return 2;
    case NvidiaDriverType::Other:
        break;
    }
    return 3;
}

bool NvidiaDriverModel::isBefore(const NvidiaDriver &a, const NvidiaDriver &b)
{
    if (a.installed != b.installed) {
        return a.installed;
    }
    if (a.recommended != b.recommended) {
        return a.recommended;
    }
    if (a.supported != b.supported) {
        return a.supported;
    }
    if (typeRank(a.type) != typeRank(b.type)) {
        return typeRank(a.type) < typeRank(b.type);
    }
    return QVersionNumber::compare(a.version, b.version) > 0;
}

void NvidiaDriverModel::sortNvidiaDriversByPriority()
{
    beginResetModel();
    std::sort(m_drivers.begin(), m_drivers.end(), &NvidiaDriverModel::isBefore);
    endResetModel();
}

int NvidiaDriverModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_drivers.size();
}

QVariant NvidiaDriverModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_drivers.size()) {
        return {};
    }
    const NvidiaDriver &driver = m_drivers.at(index.row());
    if (role == Qt::DisplayRole) {
        QStringList tags;
        if (driver.recommended) {
            tags << i18n("Recommended");
        }
        if (driver.installed) {
            tags << i18n("Installed");
        }
        if (tags.isEmpty()) {
            return driver.name;
        }
        return QStringLiteral("%1 (%2)").arg(driver.name, tags.join(QStringLiteral(", ")));
    }
    if (role == Qt::ToolTipRole) {
        const QString state = driver.installed ? i18n("Installed") : i18n("Not installed");
        const QString first = QStringLiteral("%1 (%2)").arg(driver.version.toString(), state);
        return QStringLiteral("%1\n%2").arg(first, driverDescription(driver));
    }
    return {};
}

QString NvidiaDriverModel::driverDescription(const NvidiaDriver &driver)
{
    if (driver.recommended) {
        return i18n(
            "The video card manufacturer (NVIDIA) recommends them as the most suitable.\n"
            "These recommendations are based not only on specific device support,\n"
            "but also on optimal driver stability and performance for a specific model.");
    }
    if (driver.supported) {
        return i18n("A proprietary NVIDIA graphics driver.\nThis driver has official support from NVIDIA for the specified hardware.");
    }
    switch (driver.type) {
    case NvidiaDriverType::Open:
        return i18n(
            "Open source NVIDIA graphics driver.\nDoes not include the full range of proprietary features available in the proprietary version of the "
            "driver.");
    case NvidiaDriverType::NoDkms:
        return i18n("A proprietary NVIDIA graphics driver\nNot use DKMS (Dynamic Kernel Module Support) to compile and manage kernel modules.");
    case NvidiaDriverType::Proprietary:
        return i18n("A proprietary NVIDIA graphics driver.\nThe manufacturer does not guarantee full compatibility with your video card.");
    case NvidiaDriverType::Other:
        break;
    }
    return QString();
}

QString NvidiaDriverModel::currentVersion()
{
    QProcess process;
    // Started by its own path rather than through a shell looking it up: a missing tool fails to
    // start, which reads like any other failure.
    process.start(SystemPaths::nvidiaSmi(), SystemPaths::nvidiaVersionArguments());
    if (!process.waitForFinished(TimeLimits::processMs)) {
        process.kill();
        process.waitForFinished(1000);
        return QString();
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return QString();
    }
    QByteArray out = process.readAllStandardOutput();
    const int nul = out.indexOf('\0');
    if (nul >= 0) {
        out.truncate(nul);
    }
    return QString::fromUtf8(out).trimmed();
}
