// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device.h"

#include <QString>

#include <functional>
#include <memory>

class IHelperRunner;

// One way of preventing tearing: switch it on or off, and read whether it is on.
class TearingHandler
{
public:
    virtual ~TearingHandler();
    // True on success.
    virtual bool applyTearing(bool enable) = 0;
    // True when the mechanism is on (false also when the state cannot be read).
    virtual bool loadCurrentState();
    // The same reading as a self-contained function: it holds copies of all it needs, so it may
    // run on a worker thread and outlive the handler.
    virtual std::function<bool()> stateQuery() const = 0;
    // Why the switch cannot be used on this machine or account; empty when it can.
    virtual QString unavailableReason() const;
    // A hint for the user about the switch (a tool tip); empty when there is none.
    virtual QString note() const;
};

// The TearFree option of the Intel or AMD X driver, in a snippet that the privileged helper
// writes and that is read back here.
class XorgTearingHandler : public TearingHandler
{
public:
    // device: an Intel or AMD adapter; driverName the installed X driver to name, empty when
    // none could be resolved (the switch is then unavailable). The runner, when given, must
    // outlive the handler; without one the handler talks to KAuth.
    XorgTearingHandler(const Device &device, const QString &driverName, IHelperRunner *runner = nullptr);
    ~XorgTearingHandler() override;

    bool applyTearing(bool enable) override;
    std::function<bool()> stateQuery() const override;
    QString unavailableReason() const override;

    QString driverName() const
    {
        return m_driverName;
    }

private:
    Device m_device;
    QString m_vendorName; // names the snippet: "intel" or "amd"
    QString m_driverName;
    std::unique_ptr<IHelperRunner> m_ownRunner;
    IHelperRunner *m_runner;
};

// ForceFullCompositionPipeline of the NVIDIA driver: a command in a tweak file that the user's
// login profile sources. The state is the running X server's, asked from nvidia-settings.
class NvidiaTearingHandler : public TearingHandler
{
public:
    // home: the user's home folder; program: nvidia-settings; timeoutMs: its time limit.
    explicit NvidiaTearingHandler(const QString &home, const QString &program, int timeoutMs);
    NvidiaTearingHandler();

    bool applyTearing(bool enable) override;
    std::function<bool()> stateQuery() const override;
    QString unavailableReason() const override;

    QString getNvidiaCommand(bool enable) const;
    // Makes the profile source the tweak file: adds the generated block once, drops one entry of
    // the tweak file's older name. The profile (a symbolic link's target) is replaced only when
    // the new content is complete, keeping its mode and every byte outside the changed lines.
    bool addToUserProfile();

    QString tweakFilePath() const;
    QString profilePath() const;

private:
    QString m_home;
    QString m_program;
    int m_timeoutMs;
};

// Vertical synchronisation of the picom compositor, through a settings file in the user's
// configuration folder.
class PicomTearingHandler : public TearingHandler
{
public:
    PicomTearingHandler(const QString &home, const QString &program);
    PicomTearingHandler();

    bool applyTearing(bool enable) override;
    std::function<bool()> stateQuery() const override;
    QString unavailableReason() const override;
    QString note() const override;

    // The settings file in use: the new name when it exists, else the older one, else empty.
    QString availableConfigFilePath() const;
    QString configFilePath() const;

    // The settings lines an enabled file holds.
    static QByteArray settingsLines();

private:
    QString m_home;
    QString m_program;
};
