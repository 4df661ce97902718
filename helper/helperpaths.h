#pragma once

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
    return SystemPaths::xorgSwitchSnippet();
}
inline QString oldXorgSnippet()
{
    return QStringLiteral("/etc/X11/xorg.conf.d/20-vela-admin-driver.conf");
}
// "/etc/X11/xorg.conf.d/20-<vendor>-tearing.conf"
inline QString tearingFile(const QString &vendor)
{
    return SystemPaths::xorgTearingSnippet(vendor);
}
inline QStringList tearingVendors()
{
    return {QStringLiteral("amd"), QStringLiteral("intel")};
}

// "/tmp/driver-<login>.mark": present while a backup of this boot already exists.
inline QString backupMarkPrefix()
{
    return QStringLiteral("/tmp/driver-");
}
inline QString backupMarkSuffix()
{
    return QStringLiteral(".mark");
}

// The backup folder and the folders it keeps a copy of. Layout after a backup:
//   /usr/share/vela-admin-video-driver/modprobe.d/   copy of /etc/modprobe.d
//   /usr/share/vela-admin-video-driver/xorg.conf.d/  copy of /etc/X11/xorg.conf.d
// (contents, modes, times and symlinks kept as they were). A restore copies them back.
inline QString backupDir()
{
    return QStringLiteral("/usr/share/") + QStringLiteral("vela-admin-video-driver");
}
inline QString modprobeDir()
{
    return QStringLiteral("/etc/modprobe.d");
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

inline QString aptListsLock()
{
    return QStringLiteral("/var/lib/apt/lists/lock");
}

// Programs, always started by these absolute paths and never through a shell.
inline QString cpProgram()
{
    return QStringLiteral("/usr/bin/cp");
}
inline QString fuserProgram()
{
    return QStringLiteral("/usr/bin/fuser");
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
constexpr int fuserTimeoutMs = 30000;
// update-grub probes every disk (os-prober) and regenerates initrd-independent menus: minutes.
constexpr int updateGrubTimeoutMs = 10 * 60 * 1000;
}
