#pragma once

#include "backuplayout.h"
#include "systempaths.h"

#include <QString>
#include <QStringList>

// Every fixed system location and program the privileged helper touches lives here, so the
// actions and their tests agree on them and nothing else in the helper spells a system path.
namespace HelperPaths
{
// The X configuration snippet of a driver switch, and the snippet of the older name that is
// deleted once the new one has been written.
inline QString xorgConfDir()
{
    return QStringLiteral("/etc/X11/xorg.conf.d");
}
inline QString xorgSnippet()
{
    return QStringLiteral("/etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf");
}
inline QString oldXorgSnippet()
{
    return QStringLiteral("/etc/X11/xorg.conf.d/20-vela-admin-driver.conf");
}
// "/etc/X11/xorg.conf.d/20-<vendor>-tearing.conf"
inline QString tearingFile(const QString &vendor)
{
    return QStringLiteral("/etc/X11/xorg.conf.d/20-%1-tearing.conf").arg(vendor);
}

// Present once this boot's backup was taken. /run belongs to root and is emptied at boot.
inline QString backupMark()
{
    return QStringLiteral("/run/corvo-video-driver/backup.mark");
}

// The backup folder; its layout is described in backuplayout.h.
inline QString backupDir()
{
    return BackupLayout::root();
}

// The boot loader defaults the clients edit; one definition for both sides.
inline QString grubDefaults()
{
    return SystemPaths::grubDefaults();
}

// X server driver folders, the very ones the clients list drivers from; a driver "foo"
// exists when "foo_drv.so" lies somewhere below one.
inline QStringList xorgDriverDirs()
{
    return SystemPaths::xorgDriverDirs();
}

// The D-Bus name of QApt's package worker, which runs the transactions.
inline QString packageWorkerService()
{
    return QStringLiteral("org.kubuntu.qaptworker3");
}

// Programs, always started by these absolute paths and never through a shell.
inline QString cpProgram()
{
    return QStringLiteral("/usr/bin/cp");
}
inline QString updateGrubProgram()
{
    return QStringLiteral("/usr/sbin/update-grub");
}

// D-Bus activation hands the helper an almost empty PATH; update-grub and friends call other
// tools by name, so children get this one.
inline QString childPath()
{
    return QStringLiteral("/usr/sbin:/usr/bin:/sbin:/bin");
}

// Time limits of the programs the helper waits for, in milliseconds.
constexpr int copyTimeoutMs = 30000;
// update-grub probes every disk (os-prober) and regenerates initrd-independent menus: minutes.
constexpr int updateGrubTimeoutMs = 10 * 60 * 1000;
// The package worker reports every step of a transaction; this long without a word from it
// the helper stops waiting.
constexpr int packageSilenceLimitMs = 30 * 60 * 1000;
}
