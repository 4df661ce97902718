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
// An X server that does not run as root logs into its owner's home: the home folder followed
// by this, %1 the display number.
inline QString userXLogInHome()
{
    return QStringLiteral("/.local/share/xorg/Xorg.%1.log");
}

// The kernel's process list, where the running X servers and their owners are found.
inline QString processList()
{
    return QStringLiteral("/proc");
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

// Every external program gets at most this long.
constexpr int processTimeoutMs = 30000;
}
