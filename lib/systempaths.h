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

// The shell that runs the NVIDIA management tool's version query.
inline QString shell()
{
    return QStringLiteral("/bin/sh");
}
inline QString nvidiaVersionCommand()
{
    return QStringLiteral("nvidia-smi --query-gpu=driver_version --format=csv,noheader");
}

// nvidia-detect's device id lists, one "<series>.ids" file per NVIDIA driver series.
inline QString nvidiaIdListDir()
{
    return QStringLiteral("/usr/share/nvidia");
}

// The machine owner key tool and the key DKMS signs the modules it builds with.
inline QString mokutil()
{
    return QStringLiteral("/usr/bin/mokutil");
}
inline QString dkmsSigningKey()
{
    return QStringLiteral("/var/lib/dkms/mok.pub");
}

// Sources of DKMS-built modules, "<module>-<version>" folders owned by the *-dkms packages.
inline QString dkmsSourceRoot()
{
    return QStringLiteral("/usr/src");
}

// Every external program gets at most this long.
constexpr int processTimeoutMs = 30000;
}
