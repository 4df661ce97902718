#pragma once

#include <QString>

// Every fixed location the restore command touches lives here.
//
// The layout of the backup is owned by the privileged helper: on the first driver switch
// (or package install/remove) it runs
//     /usr/bin/cp -rf /etc/modprobe.d /etc/X11/xorg.conf.d /usr/share/vela-admin-video-driver
// so the backup folder holds the subfolders "modprobe.d" and "xorg.conf.d" with copies of the
// files (symlinks are copied as symlinks by a recursive cp). Later copies overwrite files of an
// earlier one and leave files that exist only in the backup. This command reads exactly that
// layout and writes nothing into those two subfolders.
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
