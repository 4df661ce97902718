#pragma once

#include <QString>

// Every fixed program, D-Bus address and time limit the dialogs use lives here.
namespace DialogPaths
{
// Prints the records of a kernel module file.
inline QString modinfo()
{
    return QStringLiteral("/usr/sbin/modinfo");
}

// The window manager's command tool; it logs the user out and reboots on request.
inline QString wmFunc()
{
    return QStringLiteral("/usr/bin/vela-wmfunc");
}
inline QString wmFuncRebootArgument()
{
    return QStringLiteral("VELAWM_REBOOT");
}
// "/run/user/" + the uid of the administrator who ran sudo
inline QString runtimeDirPrefix()
{
    return QStringLiteral("/run/user/");
}

// The KDE session manager, on the session bus.
inline QString ksmserverService()
{
    return QStringLiteral("org.kde.ksmserver");
}
inline QString ksmserverPath()
{
    return QStringLiteral("/KSMServer");
}
inline QString ksmserverInterface()
{
    return QStringLiteral("org.kde.KSMServerInterface");
}
// KWorkSpace::ShutdownConfirm, ShutdownType and ShutdownMode values for logout(): the
// administrator has already agreed, so no confirmation; reboot; and let applications with
// unsaved data still object (ShutdownModeTryNow) rather than killing them.
constexpr int ksmConfirmNo = 0;
constexpr int ksmTypeReboot = 1;
constexpr int ksmModeTryNow = 1;

// systemd-logind, on the system bus.
inline QString logindService()
{
    return QStringLiteral("org.freedesktop.login1");
}
inline QString logindPath()
{
    return QStringLiteral("/org/freedesktop/login1");
}
inline QString logindInterface()
{
    return QStringLiteral("org.freedesktop.login1.Manager");
}

// Every external program gets at most this long.
constexpr int processTimeoutMs = 30000;
// A reboot request over D-Bus is answered at once by a running service; a missing one must
// not keep the administrator waiting.
constexpr int dbusTimeoutMs = 5000;
}
