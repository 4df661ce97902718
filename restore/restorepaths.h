#pragma once

#include <QString>

// Every fixed location the restore command touches lives here.
//
// The layout of the backup is owned by the privileged helper: on the first driver switch
// (or package install/remove) of a boot it copies /etc/modprobe.d and /etc/X11/xorg.conf.d
// (with "cp -a", so modes, times and symlinks are kept) into a fresh folder and swaps that in
// as /usr/share/vela-admin-video-driver, carrying over everything else the folder held (the
// set-aside folders of this command). The backup folder thus holds the subfolders
// "modprobe.d" and "xorg.conf.d", each an exact copy of its folder at the time of the backup.
// This command reads exactly that layout and writes nothing into those two subfolders.
namespace RestorePaths
{
inline QString backupDir()
{
    return QStringLiteral("/usr/share/vela-admin-video-driver");
}

struct Folder {
    QString backupName; // subfolder of backupDir()
    QString livePath; // the system folder it is restored to
};

inline QList<Folder> folders()
{
    return {{QStringLiteral("modprobe.d"), QStringLiteral("/etc/modprobe.d")},
            {QStringLiteral("xorg.conf.d"), QStringLiteral("/etc/X11/xorg.conf.d")}};
}

// Files that the backup does not hold are moved into backupDir() + "/" + this prefix +
// "YYYYMMDD-HHMMSS", keeping their folder name and relative path below it.
inline QString setAsidePrefix()
{
    return QStringLiteral("set-aside-");
}

// Restored files larger than this are refused: configuration snippets are a few KiB.
constexpr qint64 maxFileSize = 16 * 1024 * 1024;
}
