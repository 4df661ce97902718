// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "tearingmanager.h"
#include "kcm_debug.h"
#include "systempaths.h"
#include "tearinghandlers.h"
#include "xorgdrivers.h"
#include "xorgsnippet.h"

#include <KLocalizedString>

#include <QFile>

TearingManager::TearingManager(const Device &device, QObject *parent)
    : TearingManager(device, SystemPaths::xorgDriverDirs(), parent)
{
}

TearingManager::TearingManager(const Device &device, const QStringList &xorgDriverDirs, QObject *parent)
    : QObject(parent)
    , m_picom(std::make_unique<PicomTearingHandler>())
{
    switch (device.videoCardVendorId()) {
    case VideoCardVendorId::Nvidia:
        m_tearing = std::make_unique<NvidiaTearingHandler>();
        break;
    case VideoCardVendorId::Intel:
    case VideoCardVendorId::Amd:
        m_tearing = std::make_unique<XorgTearingHandler>(device, tearingDriverName(device, xorgDriverDirs, SystemPaths::xorgSwitchSnippet()));
        break;
    default:
        qCWarning(KCM_VIDEODRIVER) << "Unknown GPU vendor, tearing prevention may not be available.";
        break;
    }
}

TearingManager::TearingManager(std::unique_ptr<TearingHandler> tearing, std::unique_ptr<TearingHandler> picom, QObject *parent)
    : QObject(parent)
    , m_tearing(std::move(tearing))
    , m_picom(std::move(picom))
{
}

TearingManager::~TearingManager() = default;

QString TearingManager::tearingDriverName(const Device &device, const QStringList &xorgDriverDirs, const QString &switchSnippet)
{
    QFile snippet(switchSnippet);
    if (snippet.open(QIODevice::ReadOnly)) {
        const QString configured = XOrgSnippet::deviceDriver(snippet.readAll());
        if (!configured.isEmpty()) {
            return configured;
        }
    }
    return XOrgDrivers::driverInUse(device.xorgDriver(), XOrgDrivers::installedDrivers(xorgDriverDirs));
}

QString TearingManager::applyTearing(bool enable)
{
    if (!m_tearing) {
        return QString();
    }
    return m_tearing->applyTearing(enable) ? QString() : i18n("Failed to apply tearing settings.");
}

QString TearingManager::applyPicom(bool enable)
{
    return m_picom->applyTearing(enable) ? QString() : i18n("Failed to apply Picom settings.");
}

bool TearingManager::isTearingEnabled() const
{
    return m_tearing && m_tearing->loadCurrentState();
}

bool TearingManager::isPicomEnabled() const
{
    return m_picom->loadCurrentState();
}

std::function<bool()> TearingManager::tearingStateQuery() const
{
    if (!m_tearing) {
        return [] {
            return false;
        };
    }
    return m_tearing->stateQuery();
}

QString TearingManager::tearingUnavailableReason() const
{
    if (!m_tearing) {
        return i18n("Tearing prevention in the graphics driver is not available for this adapter's vendor.");
    }
    return m_tearing->unavailableReason();
}

QString TearingManager::picomUnavailableReason() const
{
    return m_picom->unavailableReason();
}

QString TearingManager::picomNote() const
{
    return m_picom->note();
}
