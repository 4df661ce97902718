// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "systempaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <sys/stat.h>

// The layout of the configuration backup, shared by the privileged helper, which writes it, and
// the restore command, which reads it:
//
//   /usr/share/vela-admin-video-driver/
//     20261209-033310/             one generation, taken at the first change of a boot (UTC)
//       modprobe.d/                copy of /etc/modprobe.d
//       xorg.conf.d/               copy of /etc/X11/xorg.conf.d (the tearing snippets included)
//       grub                       copy of /etc/default/grub, when there was one
//     20261210-081502/             a later one ...
//     latest -> 20261210-081502    the newest generation
//     modprobe.d -> latest/modprobe.d, xorg.conf.d -> latest/xorg.conf.d
//                                  the newest, where a reader of the older single-copy layout
//                                  looks for it
//     set-aside-YYYYMMDD-HHMMSS/   what the restore command moved out of the way; never touched
//
// A generation folder only ever appears by renaming a complete copy (made under a hidden
// ".staging-" name) to its dated name, and it leaves by being renamed to a hidden ".prune-" name
// before it is deleted: every dated folder on disk is a whole backup, whenever a crash strikes.
// At most keptGenerations are kept; the oldest go first.
namespace BackupLayout
{
inline QString root()
{
    return SystemPaths::backupDir();
}

struct Item {
    QString name; // inside a generation
    QString livePath; // where it lives on the system
    bool folder;
};

inline QList<Item> items()
{
    return {{QStringLiteral("modprobe.d"), SystemPaths::modprobeDir(), true},
            {QStringLiteral("xorg.conf.d"), SystemPaths::xorgConfDir(), true},
            {QStringLiteral("grub"), SystemPaths::grubDefaults(), false}};
}

constexpr int keptGenerations = 10;

inline QString latestLink()
{
    return QStringLiteral("latest");
}
inline QString stagingPrefix()
{
    return QStringLiteral(".staging-");
}
inline QString prunePrefix()
{
    return QStringLiteral(".prune-");
}
// A symlink made beside "latest" or a top name and renamed over it.
inline QString linkPrefix()
{
    return QStringLiteral(".link-");
}
inline QString setAsidePrefix()
{
    return RestorePaths::setAsidePrefix();
}

// "yyyyMMdd-HHmmss" in UTC, with "-2", "-3", ... when several backups fall in one second.
inline bool isGenerationName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("\\A[0-9]{8}-[0-9]{6}(-[1-9][0-9]{0,3})?\\z"));
    return pattern.match(name).hasMatch();
}

inline QString generationBaseName(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

// The generations in the folder, oldest first. Only real folders count: a symlink or file of
// that name is nobody's backup.
inline QStringList generations(const QString &dir = root())
{
    QStringList names;
    for (const QString &name : QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        struct stat st;
        if (isGenerationName(name) && ::lstat(QFile::encodeName(dir + QLatin1Char('/') + name).constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
            names << name;
        }
    }
    const auto key = [](const QString &name) {
        return qMakePair(name.left(15), name.size() > 15 ? name.mid(16).toInt() : 1);
    };
    std::sort(names.begin(), names.end(), [&](const QString &a, const QString &b) {
        return key(a) < key(b);
    });
    return names;
}
}
