// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device.h"
#include "isettingspage.h"

#include <QList>

template<typename T>
class QFutureWatcher;
class TearingManager;
class Ui_TearingEffectPage;

// Two switches: tearing prevention in the active adapter's graphics driver, and through the
// picom compositor. The states in effect are read once when the page is built and again after
// each save; the driver's state is read off the interface thread, since asking nvidia-settings
// can take seconds.
class TearingEffectPage : public ISettingsPage
{
    Q_OBJECT
public:
    TearingEffectPage(const QList<Device> &devices, QWidget *parent);
    // With a manager of the caller's choosing, which the page takes over.
    TearingEffectPage(const QList<Device> &devices, TearingManager *manager, QWidget *parent);
    ~TearingEffectPage() override;

    SaveResult saveSettings() override;
    bool isModified() const override;
    void reset() override;

    // True once the driver's state has been read since the last build or save.
    bool tearingStateKnown() const
    {
        return m_tearingKnown;
    }

public Q_SLOTS:
    void onSettingsChanged();

private:
    void readStates();
    void tearingStateRead();
    bool driverRowUsable() const;
    bool picomRowUsable() const;
    void showReasons();

    Ui_TearingEffectPage *ui;
    QList<Device> m_devices;
    TearingManager *m_manager;
    QFutureWatcher<bool> *m_tearingWatcher;
    bool m_tearingState = false;
    bool m_tearingKnown = false;
    bool m_picomState = false;
    bool m_driverUsable = false; // decided once, when the page is built
};
