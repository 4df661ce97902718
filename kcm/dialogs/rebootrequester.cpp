// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "rebootrequester.h"
#include "busconfig.h"
#include "kcmdialogs_debug.h"
#include "systempaths.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>
#include <QProcess>

RebootStrategy::~RebootStrategy() = default;

WmFuncReboot::WmFuncReboot(const QString &program, int timeoutMs)
    : m_program(program.isEmpty() ? DialogPaths::wmFunc() : program)
    , m_timeoutMs(timeoutMs < 0 ? TimeLimits::processMs : timeoutMs)
{
}

QString WmFuncReboot::name() const
{
    return QStringLiteral("wmfunc");
}

QProcessEnvironment WmFuncReboot::environment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString sudoUid = QString::fromLatin1(qgetenv("SUDO_UID"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), DialogPaths::runtimeDirPrefix() + sudoUid);
    return env;
}

bool WmFuncReboot::request()
{
    if (!QFileInfo(m_program).isExecutable()) {
        qCDebug(KCMDIALOGS) << "No window manager command tool at" << m_program;
        return false;
    }
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(m_program, {DialogPaths::wmFuncRebootArgument()}, QIODevice::ReadWrite);
    if (!process.waitForStarted(m_timeoutMs)) {
        qCWarning(KCMDIALOGS) << "Could not start" << m_program << process.errorString();
        return false;
    }
    // What the tool prints or returns tells nothing about the reboot: it may already be
    // logging the session out.
    if (!process.waitForFinished(m_timeoutMs)) {
        qCWarning(KCMDIALOGS) << m_program << "did not finish in time";
        process.kill();
        process.waitForFinished(1000);
    }
    return true;
}

namespace
{
bool callSucceeds(const QDBusConnection &bus, const QDBusMessage &call, int timeoutMs)
{
    if (!bus.isConnected()) {
        qCDebug(KCMDIALOGS) << "No connection to the bus for" << call.service();
        return false;
    }
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(KCMDIALOGS) << "Reboot request to" << call.service() << "failed:" << reply.errorName() << reply.errorMessage();
        return false;
    }
    return true;
}
}

KsmserverReboot::KsmserverReboot(int timeoutMs)
    : m_timeoutMs(timeoutMs < 0 ? TimeLimits::dbusCallMs : timeoutMs)
{
}

QString KsmserverReboot::name() const
{
    return QStringLiteral("ksmserver");
}

bool KsmserverReboot::request()
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(BusNames::ksmserverService(), BusNames::ksmserverPath(), BusNames::ksmserverInterface(), QStringLiteral("logout"));
    call << BusNames::ksmConfirmNo << BusNames::ksmTypeReboot << BusNames::ksmModeTryNow;
    return callSucceeds(QDBusConnection::sessionBus(), call, m_timeoutMs);
}

LogindReboot::LogindReboot(int timeoutMs)
    : m_timeoutMs(timeoutMs < 0 ? TimeLimits::dbusCallMs : timeoutMs)
{
}

QString LogindReboot::name() const
{
    return QStringLiteral("logind");
}

bool LogindReboot::request()
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(BusNames::logindService(), BusNames::logindPath(), BusNames::logindInterface(), QStringLiteral("Reboot"));
    call << true; // interactive: polkit may ask the administrator
    return callSucceeds(QDBusConnection::systemBus(), call, m_timeoutMs);
}

RebootRequester::RebootRequester(std::vector<std::unique_ptr<RebootStrategy>> strategies)
    : m_strategies(std::move(strategies))
{
}

RebootRequester RebootRequester::systemDefault(int dbusTimeoutMs)
{
    std::vector<std::unique_ptr<RebootStrategy>> strategies;
    strategies.push_back(std::make_unique<WmFuncReboot>());
    strategies.push_back(std::make_unique<KsmserverReboot>(dbusTimeoutMs));
    strategies.push_back(std::make_unique<LogindReboot>(dbusTimeoutMs));
    return RebootRequester(std::move(strategies));
}

bool RebootRequester::request()
{
    m_tried.clear();
    for (const auto &strategy : m_strategies) {
        m_tried << strategy->name();
        if (strategy->request()) {
            qCDebug(KCMDIALOGS) << "Reboot requested through" << strategy->name();
            return true;
        }
    }
    qCWarning(KCMDIALOGS) << "No way to request a reboot worked; tried" << m_tried;
    return false;
}
