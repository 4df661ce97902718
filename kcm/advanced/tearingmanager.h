// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class TearingHandler;

// Tearing prevention for one adapter: a driver-level handler chosen by the adapter's vendor
// (none for vendors it knows nothing of) and the compositor handler.
class TearingManager : public QObject
{
public:
    TearingManager(const Device &device, QObject *parent);
    // The X driver names are resolved in the given folders (the X server's by default).
    TearingManager(const Device &device, const QStringList &xorgDriverDirs, QObject *parent);
    // With handlers of the caller's choosing; tearing may be null.
    TearingManager(std::unique_ptr<TearingHandler> tearing, std::unique_ptr<TearingHandler> picom, QObject *parent);
    ~TearingManager() override;

    // Each returns an empty text on success, else a translated message.
    QString applyTearing(bool enable);
    QString applyPicom(bool enable);

    // The states in effect, read afresh.
    bool isTearingEnabled() const;
    bool isPicomEnabled() const;

    // The driver-level state as a function that may run on a worker thread (asking
    // nvidia-settings can take seconds); it answers false without a handler.
    std::function<bool()> tearingStateQuery() const;

    // Why a switch cannot be used here; empty when it can.
    QString tearingUnavailableReason() const;
    QString picomUnavailableReason() const;
    QString picomNote() const;

    // The X driver that the tearing snippet of an Intel or AMD adapter names: the driver the
    // driver switch configured for the next start of the X server when its snippet names one
    // (the tearing snippet must agree with it, the X server takes the first Device section it
    // reads), else the installed driver the adapter's X log tag stands for.
    static QString tearingDriverName(const Device &device, const QStringList &xorgDriverDirs, const QString &switchSnippet);

private:
    std::unique_ptr<TearingHandler> m_tearing;
    std::unique_ptr<TearingHandler> m_picom;
};
