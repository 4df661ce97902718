#pragma once

#include "backuplayout.h"

#include <QString>

// Every fixed location the restore command touches lives here. The layout of the backup is the
// privileged helper's, described in backuplayout.h: dated generations below the backup folder,
// each holding copies of /etc/modprobe.d, /etc/X11/xorg.conf.d and /etc/default/grub. An older
// helper kept one copy of the two folders directly in the backup folder; that copy is still
// read, as the generation "legacy". This command writes nothing into any backup.
namespace RestorePaths
{
inline QString backupDir()
{
    return BackupLayout::root();
}

// The name under which the single copy of the older layout is offered.
inline QString legacyName()
{
    return QStringLiteral("legacy");
}

// Files that the backup does not hold are moved into backupDir() + "/" + this prefix +
// "YYYYMMDD-HHMMSS", keeping their folder name and relative path below it.
inline QString setAsidePrefix()
{
    return BackupLayout::setAsidePrefix();
}

// Run after the boot loader defaults were put back, so the boot menu follows them.
inline QString updateGrubProgram()
{
    return QStringLiteral("/usr/sbin/update-grub");
}
constexpr int updateGrubTimeoutMs = 10 * 60 * 1000;

// Restored files larger than this are refused: configuration snippets are a few KiB.
constexpr qint64 maxFileSize = 16 * 1024 * 1024;
}
