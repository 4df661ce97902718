#include "helperclient.h"
#include "driverlib_debug.h"
#include "busconfig.h"

#include <KAuth/ActionReply>
#include <KAuth/ExecuteJob>
#include <KLocalizedString>

#include <QEventLoop>
#include <QTimer>

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
    case KAuth::ActionReply::NoError:
        return QString();
    case KAuth::ActionReply::NoResponderError:
        return i18n("The privileged helper did not answer.");
    case KAuth::ActionReply::NoSuchActionError:
        return i18n("The privileged action is not installed on this system.");
    case KAuth::ActionReply::InvalidActionError:
        return i18n("The privileged action is invalid.");
    case KAuth::ActionReply::AuthorizationDeniedError:
        return i18n("You are not authorized to perform this action.");
    case KAuth::ActionReply::UserCancelledError:
        return i18n("The action was cancelled.");
    case KAuth::ActionReply::HelperBusyError:
        return i18n("The privileged helper is busy with another action. Please try again later.");
    case KAuth::ActionReply::AlreadyStartedError:
        return i18n("The action is already running.");
    case KAuth::ActionReply::DBusError:
        return i18n("Could not reach the privileged helper over D-Bus.");
    case KAuth::ActionReply::BackendError:
        return i18n("The authorization service reported an error.");
    default:
        return i18n("The privileged helper failed (error %1).", kauthError);
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
}

IHelperRunner::~IHelperRunner() = default;

namespace
{
// A helper that the bus starts for a call claims its name before KAuth has registered the
// helper's object, and the call is handed over in between: it is answered "No such object
// path" without reaching the helper. Nothing was done, so the call is safe to repeat once the
// helper is up.
bool missedStartingHelper(const KAuth::ExecuteJob *job)
{
    return job->error() == KAuth::ActionReply::DBusError && job->errorString().contains(QLatin1String("No such object path"));
}

// Waits without blocking the caller's window.
void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
}

HelperResult KAuthHelperRunner::run(const QString &shortName, const QVariantMap &args)
{
    constexpr int attempts = 10; // at most 4.5 s of pauses in all
    HelperResult result;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        KAuth::ExecuteJob *job = HelperClient::makeAction(shortName, args).execute();
        result.ok = job->exec();
        if (result.ok) {
            return result;
        }
        result.errorText = HelperClient::errorText(job);
        result.errorCode = job->error();
        result.jobErrorString = job->errorString().isEmpty() ? job->errorText() : job->errorString();
        if (!missedStartingHelper(job) || attempt == attempts) {
            break;
        }
        qCDebug(DRIVERLIB) << "The helper was not ready for" << shortName << "on attempt" << attempt << "- trying again";
        pause(100 * attempt);
    }
    return result;
}
