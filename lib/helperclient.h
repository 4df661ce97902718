#pragma once

#include <QString>
#include <QVariantMap>

#include <KAuth/Action>

namespace KAuth
{
class ExecuteJob;
}

// The short names of the privileged helper's actions.
namespace HelperAction
{
inline QString replace()
{
    return QStringLiteral("replace");
}
inline QString install()
{
    return QStringLiteral("install");
}
inline QString remove()
{
    return QStringLiteral("remove");
}
inline QString acceleration()
{
    return QStringLiteral("acceleration");
}
inline QString tearing()
{
    return QStringLiteral("tearing");
}
}

// The one way every client builds and reads a privileged helper action.
namespace HelperClient
{
// The helper's identifier towards KAuth.
QString helperId();

// helperId() + "." + shortName
QString actionName(const QString &shortName);

// How long a client waits for the action, in milliseconds: long enough for its slowest honest
// run (an authentication prompt the administrator takes time over, the boot loader update,
// a package transaction). KAuth's own default of about 25 s would report a failure while the
// helper is still working.
int timeoutFor(const QString &shortName);

// An action ready to execute: name, helper identifier, arguments and time-out set.
KAuth::Action makeAction(const QString &shortName, const QVariantMap &args);

// The text to show for a failed job: the helper's own description when it sent one, else a
// text for KAuth's error code (a refused authorisation arrives without any text).
QString errorText(const KAuth::ExecuteJob *job);
QString errorTextForCode(int kauthError);
}

struct HelperResult {
    bool ok = false;
    QString errorText; // empty on success
    int errorCode = 0; // KAuth's error code of a failed job (0 when the runner has none)
    QString jobErrorString; // the failed job's own text, empty when KAuth gave none
};

// Runs one helper action to its end. Logic that needs the helper talks to this interface, so
// that it can be exercised without a system bus.
class IHelperRunner
{
public:
    virtual ~IHelperRunner();
    virtual HelperResult run(const QString &shortName, const QVariantMap &args) = 0;
};

// The real thing: executes the action through KAuth and waits for it in the job's own event
// loop.
class KAuthHelperRunner : public IHelperRunner
{
public:
    HelperResult run(const QString &shortName, const QVariantMap &args) override;
};
