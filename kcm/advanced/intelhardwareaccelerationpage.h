// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device.h"
#include "intelvideoconfigurator.h"
#include "isettingspage.h"

#include <QList>

class IHelperRunner;
class Ui_IntelHardwareAccelerationPage;

// Intel hardware video acceleration on the kernel command line: one switch for the whole, or
// in expert mode the GuC/HuC firmware mode and frame buffer compression one by one. Everything
// is read from and written through the page's own configurator; changes need a reboot.
class IntelHardwareAccelerationPage : public ISettingsPage
{
    Q_OBJECT
public:
    struct GucOption {
        GucMode mode;
        QString name;
        QString description;
    };

    IntelHardwareAccelerationPage(const QList<Device> &devices, QWidget *parent);
    // Writes through the given runner, which must outlive the page.
    IntelHardwareAccelerationPage(const QList<Device> &devices, IHelperRunner *runner, QWidget *parent);
    ~IntelHardwareAccelerationPage() override;

    void loadSettings() const;

    SaveResult saveSettings() override;
    bool isModified() const override;
    void reset() override;

public Q_SLOTS:
    void modeChanged(bool expert);

private:
    bool expertPageShown() const;
    GucMode selectedGucMode() const;
    void reportModified();

    Ui_IntelHardwareAccelerationPage *ui;
    IntelVideoConfigurator m_configurator;
    bool m_intelPresent = false;
};
