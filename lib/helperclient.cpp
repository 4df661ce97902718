#include "helperclient.h"
#include "device.h"
#include "driverlib_debug.h"
#include "busconfig.h"
#include "systempaths.h"
#include "xorgdrivers.h"

#include <KAuth/ActionReply>
#include <KAuth/ExecuteJob>
#include <KLocalizedString>

#include <QEventLoop>
#include <QRegularExpression>
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

namespace HelperRequests
{
QString xorgDriverForModule(const Module &module, const QStringList &installedXOrgDrivers)
{
    // Debian renames flavoured modules ("nvidia_current", "nvidia-current-open"): their X
    // driver is the one of the family name in front.
    const QString family = module.trueName.section(QRegularExpression(QStringLiteral("[_-]")), 0, 0);
    for (const QString &candidate : {module.trueName, module.displayName, family}) {
        if (!candidate.isEmpty() && installedXOrgDrivers.contains(candidate)) {
            return candidate;
        }
    }
    return QStringLiteral("modesetting");
}

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

HelperRequest acceleration(const QString &grubContent)
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
