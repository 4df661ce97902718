// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Small file helpers for the helper's tests. They write to real system paths, so every test
// that uses them runs inside the namespace of autotests/harness/kauth-fixture-ns.sh and first
// checks that it really is there.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

namespace FixtureFs
{
// True when the folder is one of the harness's tmpfs mounts (never the host's disk).
inline bool isFixture(const QString &dir)
{
    struct statfs fs;
    return ::statfs(QFile::encodeName(dir).constData(), &fs) == 0 && fs.f_type == TMPFS_MAGIC;
}

inline bool isOverlay(const QString &dir)
{
    struct statfs fs;
    return ::statfs(QFile::encodeName(dir).constData(), &fs) == 0 && fs.f_type == OVERLAYFS_SUPER_MAGIC;
}

inline bool insideFixtureNamespace()
{
    if (!isOverlay(QStringLiteral("/run")) || !isOverlay(QStringLiteral("/usr/share"))) {
        return false;
    }
    for (const char *dir : {"/tmp", "/etc/X11/xorg.conf.d", "/etc/default", "/etc/modprobe.d", "/usr/lib/xorg/modules/drivers"}) {
        if (!isFixture(QString::fromLatin1(dir))) {
            return false;
        }
    }
    return true;
}

inline bool write(const QString &path, const QByteArray &content, QFileDevice::Permissions perms = {})
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size()) {
        return false;
    }
    if (perms) {
        file.setPermissions(perms);
    }
    return true;
}

inline QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Empties a folder without removing the folder itself (it may be a mount point). Folders that
// are mount points of their own (the harness binds the project back into the fixture /tmp when
// it lives there) are left alone: emptying never reaches beyond the fixture's file system.
inline void clear(const QString &dir)
{
    QDir d(dir);
    struct stat top;
    if (::lstat(QFile::encodeName(dir).constData(), &top) != 0) {
        return;
    }
    for (const QFileInfo &entry : d.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        struct stat st;
        if (::lstat(QFile::encodeName(entry.filePath()).constData(), &st) == 0 && st.st_dev != top.st_dev) {
            continue;
        }
        if (entry.isDir() && !entry.isSymLink()) {
            QDir(entry.filePath()).removeRecursively();
        } else {
            QFile::remove(entry.filePath());
        }
    }
}
}
