// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <KAuth/Action>

namespace KAuth
{
class ExecuteJob;
}

class Device;
struct Module;

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
// The one text of every KAuth error code, for every window and the command line.
QString errorTextForCode(int kauthError);

// KAuth ends a job when the helper's "action performed" signal arrives. The helper answers the
// D-Bus call that started the action only after that signal, and KAuth keeps the call's
// watcher (a child of its helper proxy, a plugin object that lives until the end of the
// process) until that answer. A process that ends while a call is unanswered is damaged at
// exit: Qt's D-Bus thread, shut down among the libraries' exit code, deletes every unanswered
// call of a connection that is still referenced, whoever else holds it, and the watcher
// deleted afterwards with KAuth's proxy writes into the freed call. So every client waits for
// these answers once its job has ended; they follow the signal at once. Runs the caller's
// event loop meanwhile without user input, like the job's own loop, for at most limitMs.
// Returns false when a call was still unanswered then.
bool awaitHelperAnswers(int limitMs = 5000);
// How many D-Bus calls KAuth has sent to the helper that are still unanswered.
int unansweredHelperCalls();
// A helper that the bus starts for a call claims its name before KAuth has registered the
// helper's object, and a call handed over in between is answered "No such object path"
// without reaching the helper. Nothing was done, so the call is safe to repeat once the
// helper is up: true for such a job.
bool missedStartingHelper(const KAuth::ExecuteJob *job);
// How often a client sends a request that missed the starting helper, and the pause before
// the given attempt (2 ... startAttempts), which runs the caller's loop without user input.
constexpr int startAttempts = 10; // at most 4.5 s of pauses in all
void pauseBeforeAttempt(int attempt);
}

// One action for the privileged helper with its arguments, ready to send.
struct HelperRequest {
    QString action; // the short name, e.g. HelperAction::replace()
    QVariantMap arguments;
    QString refusal; // why no request could be built; empty when it is ready to send

    bool isReady() const
    {
        return refusal.isEmpty() && !action.isEmpty();
    }
};

// Every request a client sends to the helper is built here, one function per action, so that
// the control module and the command line cannot drift apart in what they send.
namespace HelperRequests
{
// The command line leaves the vendor out: its switches never write the NVIDIA Module section.
enum class VendorArgument {
    Send,
    Omit,
};

// The X server driver that goes with a kernel module, among the installed X driver names: the
// module's own X driver ("nouveau"), else the X driver of its declared name, else "modesetting",
// the generic driver of every kernel modesetting module (i915 and vmwgfx have no X driver of
// their own name).
QString xorgDriverForModule(const Module &module, const QStringList &installedXOrgDrivers);

// Switch the adapter to the given X driver, or, when xorgDriver is empty, to the X driver of the
// adapter's chosen module (newDriver()). The X driver folders are searched for the module case.
HelperRequest replace(const Device &device, const QString &xorgDriver, VendorArgument vendor, const QStringList &xorgDriverDirs);
HelperRequest replace(const Device &device, const QString &xorgDriver, VendorArgument vendor);

// Store the whole new boot loader defaults file and update the boot loader. The file travels as
// its bytes: its encoding is whatever its author used.
HelperRequest acceleration(const QByteArray &grubContent);

HelperRequest install(const QStringList &packages);
HelperRequest remove(const QStringList &packages);

// Write the TearFree option for the adapter's vendor (AMD and Intel only) and X driver.
HelperRequest tearing(const Device &device, const QString &xorgDriver, bool tearFree);
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

    // Runs a built request; one that could not be built fails with its refusal, unsent.
    HelperResult send(const HelperRequest &request);
};

// The real thing: executes the action through KAuth and waits for it in the job's own event
// loop.
class KAuthHelperRunner : public IHelperRunner
{
public:
    HelperResult run(const QString &shortName, const QVariantMap &args) override;
};
