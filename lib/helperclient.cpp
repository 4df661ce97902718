// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "helperclient.h"
#include "busconfig.h"
#include "device.h"
#include "driverlib_debug.h"
#include "systempaths.h"
#include "xorgdrivers.h"

#include <KAuth/ActionReply>
#include <KAuth/ExecuteJob>
#include <KLocalizedString>

#include <QCoreApplication>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPluginLoader>
#include <QPointer>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <atomic>

namespace HelperClient
{
QString helperId()
{
    return QStringLiteral(VIDEODRIVER_HELPER_ID);
}

QString actionName(const QString &shortName)
{
    return helperId() + QLatin1Char('.') + shortName;
}

int timeoutFor(const QString &shortName)
{
    if (shortName == HelperAction::install() || shortName == HelperAction::remove()) {
        return TimeLimits::helperPackagesMs;
    }
    if (shortName == HelperAction::acceleration()) {
        return TimeLimits::helperAccelerationMs;
    }
    return TimeLimits::helperActionMs;
}

KAuth::Action makeAction(const QString &shortName, const QVariantMap &args)
{
    KAuth::Action action(actionName(shortName));
    action.setHelperId(helperId());
    action.setArguments(args);
    action.setTimeout(timeoutFor(shortName));
    return action;
}

QString errorTextForCode(int kauthError)
{
    switch (kauthError) {
    case KAuth::ActionReply::NoResponderError:
        return i18n("The helper responder object hasn't been set.");
    case KAuth::ActionReply::NoSuchActionError:
        return i18n("The action does not exist.");
    case KAuth::ActionReply::InvalidActionError:
        return i18n("Invalid action.");
    case KAuth::ActionReply::AuthorizationDeniedError:
        return i18n("Authorization denied.");
    case KAuth::ActionReply::UserCancelledError:
        return i18n("Cancelled by user.");
    case KAuth::ActionReply::HelperBusyError:
        return i18n("The helper is busy performing another action.");
    case KAuth::ActionReply::AlreadyStartedError:
        return i18n("Action has already started and is currently running.");
    case KAuth::ActionReply::DBusError:
        return i18n("An error from D-Bus occurred.");
    case KAuth::ActionReply::BackendError:
        return i18n("The underlying backend reported an error.");
    default: // no error code at all, the helper's own failures, codes of later KAuth versions
        return i18n("Unknown error");
    }
}

QString errorText(const KAuth::ExecuteJob *job)
{
    if (!job || job->error() == KAuth::ActionReply::NoError) {
        return QString();
    }
    const QString described = job->errorString().isEmpty() ? job->errorText() : job->errorString();
    return described.isEmpty() ? errorTextForCode(job->error()) : described;
}
namespace
{
// The helper proxies KAuth has loaded: it loads its helper proxy plugin from the "kauth/helper"
// folder of Qt's plugin folders, and the plugin's instance is the one object of that file.
// Only plugins that are loaded already are looked at; none is loaded here.
QList<QObject *> loadedHelperProxies()
{
    QList<QObject *> proxies;
    for (const QString &pluginFolder : QCoreApplication::libraryPaths()) {
        const QDir folder(pluginFolder + QStringLiteral("/kauth/helper"));
        const QFileInfoList files = folder.entryInfoList(QDir::Files);
        for (const QFileInfo &file : files) {
            QPluginLoader plugin(file.absoluteFilePath());
            if (!plugin.isLoaded()) {
                continue;
            }
            QObject *proxy = plugin.instance();
            if (proxy && !proxies.contains(proxy)) {
                proxies.append(proxy);
            }
        }
    }
    return proxies;
}

QList<QPointer<QDBusPendingCallWatcher>> unansweredCalls()
{
    QList<QPointer<QDBusPendingCallWatcher>> calls;
    const QList<QObject *> proxies = loadedHelperProxies();
    for (QObject *proxy : proxies) {
        const auto watchers = proxy->findChildren<QDBusPendingCallWatcher *>(QString(), Qt::FindDirectChildrenOnly);
        for (QDBusPendingCallWatcher *watcher : watchers) {
            if (!watcher->isFinished()) {
                calls.append(watcher);
            }
        }
    }
    return calls;
}
}

int unansweredHelperCalls()
{
    return unansweredCalls().size();
}

bool awaitHelperAnswers(int limitMs)
{
    const QList<QPointer<QDBusPendingCallWatcher>> calls = unansweredCalls();
    if (calls.isEmpty()) {
        return true;
    }
    QElapsedTimer clock;
    clock.start();
    for (const QPointer<QDBusPendingCallWatcher> &call : calls) {
        // The answer is read on Qt's D-Bus thread and reported to the watcher through the event
        // queue, so an answer that comes between the check and the loop still ends the loop.
        while (call && !call->isFinished()) {
            const qint64 left = limitMs - clock.elapsed();
            if (left <= 0) {
                qCWarning(DRIVERLIB) << "The helper has not answered KAuth's call after" << limitMs << "ms";
                return false;
            }
            QEventLoop loop;
            QObject::connect(call.data(), &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
            QObject::connect(call.data(), &QObject::destroyed, &loop, &QEventLoop::quit);
            QTimer::singleShot(int(left), &loop, &QEventLoop::quit);
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        }
    }
    qCDebug(DRIVERLIB) << calls.size() << "call(s) to the helper answered" << clock.elapsed() << "ms after the job ended";
    return true;
}

bool missedStartingHelper(const KAuth::ExecuteJob *job)
{
    return job && job->error() == KAuth::ActionReply::DBusError && job->errorString().contains(QLatin1String("No such object path"));
}

void pauseBeforeAttempt(int attempt)
{
    // Like the job's own loop, it takes no user input: a second Apply, or the window closed
    // under the waiting request, must not run meanwhile.
    QEventLoop loop;
    QTimer::singleShot(100 * (attempt - 1), &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}
}

namespace HelperRequests
{
HelperRequest replace(const Device &device, const QString &xorgDriver, VendorArgument vendor, const QStringList &xorgDriverDirs)
{
    HelperRequest request;
    request.action = HelperAction::replace();
    QString driver = xorgDriver;
    // An adapter kept without any module has no chosen one to fall back on.
    if (driver.isEmpty() && !device.driverList().isEmpty()) {
        driver = xorgDriverForModule(device.newDriver(), XOrgDrivers::installedDrivers(xorgDriverDirs));
    }
    if (driver.isEmpty()) {
        request.refusal = QStringLiteral("The driver name is not specified.");
        return request;
    }
    request.arguments.insert(QStringLiteral("driver"), driver);
    // The PCI database may not know the adapter; libhd's model text then names it, as the
    // helper refuses an empty name.
    request.arguments.insert(QStringLiteral("modelName"), device.name().isEmpty() ? device.model() : device.name());
    request.arguments.insert(QStringLiteral("busId"), device.sysfsBusId());
    if (vendor == VendorArgument::Send) {
        request.arguments.insert(QStringLiteral("videoCardVendorId"), int(device.videoCardVendorId()));
    }
    return request;
}

HelperRequest replace(const Device &device, const QString &xorgDriver, VendorArgument vendor)
{
    return replace(device, xorgDriver, vendor, SystemPaths::xorgDriverDirs());
}

HelperRequest acceleration(const QByteArray &grubContent)
{
    return {HelperAction::acceleration(), {{QStringLiteral("grub_content"), grubContent}}, QString()};
}

HelperRequest install(const QStringList &packages)
{
    return {HelperAction::install(), {{QStringLiteral("drivers"), packages}}, QString()};
}

HelperRequest remove(const QStringList &packages)
{
    return {HelperAction::remove(), {{QStringLiteral("drivers"), packages}}, QString()};
}

HelperRequest tearing(const Device &device, const QString &xorgDriver, bool tearFree)
{
    HelperRequest request;
    request.action = HelperAction::tearing();
    QString vendor;
    if (device.videoCardVendorId() == Amd) {
        vendor = QStringLiteral("amd");
    } else if (device.videoCardVendorId() == Intel) {
        vendor = QStringLiteral("intel");
    } else {
        request.refusal = QStringLiteral("Tearing prevention is set through the helper only for AMD and Intel adapters.");
        return request;
    }
    request.arguments = {
        {QStringLiteral("vendor"), vendor},
        {QStringLiteral("driverName"), xorgDriver},
        {QStringLiteral("shouldEnable"), tearFree ? QStringLiteral("true") : QStringLiteral("false")},
    };
    return request;
}
}

IHelperRunner::~IHelperRunner() = default;

HelperResult IHelperRunner::send(const HelperRequest &request)
{
    if (!request.isReady()) {
        HelperResult refused;
        refused.errorText = request.refusal;
        return refused;
    }
    return run(request.action, request.arguments);
}

namespace
{
// KAuth prints the "No such object path" answer of a starting helper as a warning of its own
// before the job reports it. The request is sent again and a failure that remains is reported
// by the caller, so while a request runs the warning is held back; every other message goes on
// to the handler that was installed before.
std::atomic<QtMessageHandler> forwardTo{nullptr};

void withoutStartupNote(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && qstrcmp(context.category, "kf.auth") == 0 && message.contains(QLatin1String("No such object path"))) {
        return;
    }
    if (const QtMessageHandler next = forwardTo.load()) {
        next(type, context, message);
    }
}

class StartupNoteFilter
{
public:
    StartupNoteFilter()
    {
        forwardTo.store(qInstallMessageHandler(withoutStartupNote));
    }
    ~StartupNoteFilter()
    {
        // Put back only what was there, and only when nobody has replaced the filter meanwhile.
        const QtMessageHandler current = qInstallMessageHandler(forwardTo.load());
        if (current != withoutStartupNote) {
            qInstallMessageHandler(current);
        }
    }
    StartupNoteFilter(const StartupNoteFilter &) = delete;
    StartupNoteFilter &operator=(const StartupNoteFilter &) = delete;
};
}

HelperResult KAuthHelperRunner::run(const QString &shortName, const QVariantMap &args)
{
    const StartupNoteFilter quietRetry;
    HelperResult result;
    for (int attempt = 1; attempt <= HelperClient::startAttempts; ++attempt) {
        if (attempt > 1) {
            HelperClient::pauseBeforeAttempt(attempt);
        }
        result = HelperResult();
        KAuth::ExecuteJob *job = HelperClient::makeAction(shortName, args).execute();
        // The job is ended here, not by a deferred deletion: a command-line run has no event
        // loop after its request, and what is still queued for deletion when the application
        // object goes would otherwise be torn down among the libraries' exit code, after the
        // D-Bus thread that its reply came from has ended.
        job->setAutoDelete(false);
        result.ok = job->exec();
        HelperClient::awaitHelperAnswers();
        const bool retry = !result.ok && HelperClient::missedStartingHelper(job) && attempt < HelperClient::startAttempts;
        if (!result.ok) {
            result.errorText = HelperClient::errorText(job);
            result.errorCode = job->error();
            result.jobErrorString = job->errorString().isEmpty() ? job->errorText() : job->errorString();
        }
        delete job;
        // KAuth's watcher of the finished D-Bus call was queued for deletion in the job's event
        // loop, which has ended. Without a loop of the caller's own to run it (a command-line
        // run), delete it now, in this thread, while the bus connection lives. A running loop
        // deletes it by itself, and flushing there could delete objects the caller still uses.
        if (QThread::currentThread()->loopLevel() == 0) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        if (!retry) {
            break;
        }
        qCDebug(DRIVERLIB) << "The helper was not ready for" << shortName << "on attempt" << attempt << "- trying again";
    }
    return result;
}
