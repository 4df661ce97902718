// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// One way of asking the desktop to reboot the machine.
class RebootStrategy
{
public:
    virtual ~RebootStrategy();
    // A short name for the log.
    virtual QString name() const = 0;
    // Asks for the reboot; true when the request was handed over to someone who acts on it.
    virtual bool request() = 0;
};

// The window manager's command tool, started with its reboot argument. The module may run
// under sudo, so the tool gets the runtime folder of the administrator who called sudo.
class WmFuncReboot : public RebootStrategy
{
public:
    explicit WmFuncReboot(const QString &program = QString(), int timeoutMs = -1);
    QString name() const override;
    bool request() override;

    // The system environment with XDG_RUNTIME_DIR set to "/run/user/" + SUDO_UID (empty when
    // SUDO_UID is not set).
    static QProcessEnvironment environment();

private:
    QString m_program;
    int m_timeoutMs;
};

// The KDE session manager: log out and reboot.
class KsmserverReboot : public RebootStrategy
{
public:
    explicit KsmserverReboot(int timeoutMs = -1);
    QString name() const override;
    bool request() override;

private:
    int m_timeoutMs;
};

// systemd-logind's reboot, interactive so that polkit may ask for a password.
class LogindReboot : public RebootStrategy
{
public:
    explicit LogindReboot(int timeoutMs = -1);
    QString name() const override;
    bool request() override;

private:
    int m_timeoutMs;
};

// Tries its strategies in order until one succeeds.
class RebootRequester
{
public:
    explicit RebootRequester(std::vector<std::unique_ptr<RebootStrategy>> strategies);
    RebootRequester(RebootRequester &&) = default;

    // The window manager's tool when it is installed, then the session manager, then logind.
    static RebootRequester systemDefault(int dbusTimeoutMs = -1);

    // True when one strategy took the request.
    bool request();
    // The names of the strategies asked by the last request(), in order.
    QStringList tried() const
    {
        return m_tried;
    }

private:
    std::vector<std::unique_ptr<RebootStrategy>> m_strategies;
    QStringList m_tried;
};
