#pragma once

#include <QString>
#include <QStringList>

// Every fixed system location the driver library reads lives here, so that the probe, the
// discovery steps and the tests agree on them.
namespace SystemPaths
{
// The running kernel's modules live below this folder plus the kernel release.
inline QString moduleTreeRoot()
{
    return QStringLiteral("/usr/lib/modules/");
}

// "/dev/dri/by-path/pci-" + raw sysfs bus id + "-card"
inline QString drmCardLinkPrefix()
{
    return QStringLiteral("/dev/dri/by-path/pci-");
}
inline QString drmCardLinkSuffix()
{
    return QStringLiteral("-card");
}

inline QString rootXLog()
{
    return QStringLiteral("/var/log/Xorg.0.log");
}
inline QString displayManagerXLog()
{
    return QStringLiteral("/var/log/vela-dm/Xorg.0.log");
}

inline QString bash()
{
    return QStringLiteral("/bin/bash");
}
// Asks who owns the running X server.
inline QString xOwnerCommand()
{
    return QStringLiteral("ps ho user $(pgrep X)");
}

// X server driver folders, in the order they are scanned.
inline QStringList xorgDriverDirs()
{
    return {QStringLiteral("/usr/lib/x86_64-linux-gnu/xorg/modules/drivers/"),
            QStringLiteral("/usr/lib/xorg/modules/drivers/"),
            QStringLiteral("/usr/lib/x86_64-linux-gnu/nvidia/xorg/")};
}

// The boot loader defaults; the Intel acceleration options live on its kernel command line.
inline QString grubDefaults()
{
    return QStringLiteral("/etc/default/grub");
}

// The X configuration snippet of a driver switch, written by the helper, read by the tearing
// handler to learn the driver chosen for the next start of the X server.
inline QString xorgSwitchSnippet()
{
    return QStringLiteral("/etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf");
}
// "/etc/X11/xorg.conf.d/20-<vendor>-tearing.conf", vendor "intel" or "amd": the TearFree option.
inline QString xorgTearingSnippet(const QString &vendor)
{
    return QStringLiteral("/etc/X11/xorg.conf.d/20-%1-tearing.conf").arg(vendor);
}

// Programs of the tearing prevention.
inline QString nvidiaSettings()
{
    return QStringLiteral("/usr/bin/nvidia-settings");
}
inline QString picom()
{
    return QStringLiteral("/usr/bin/picom");
}

// Per-user files, relative to the home folder.
inline QString userProfile()
{
    return QStringLiteral(".profile");
}
inline QString nvidiaTweakFile()
{
    return QStringLiteral(".config/vela-admin-video-driver-nvidia.tweak");
}
inline QString oldNvidiaTweakFile()
{
    return QStringLiteral(".config/vela-admin-driver-nvidia.tweak");
}
inline QString picomSettingsFile()
{
    return QStringLiteral(".config/vela-admin-video-driver-picom.conf");
}
inline QString oldPicomSettingsFile()
{
    return QStringLiteral(".config/vela-admin-driver-picom.conf");
}

// Every external program gets at most this long.
constexpr int processTimeoutMs = 30000;
}
