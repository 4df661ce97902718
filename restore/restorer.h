// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>
#include <QTextStream>

#include <sys/stat.h>

// Brings the live configuration folders back to the state held in the backup.
//
// For every file, symlink and folder in the backup:
//  - missing on the system: recreated;
//  - different (content, mode or type): the current version is first copied into the
//    set-aside folder, then the backup's version replaces it atomically (written to a temporary
//    file in the same folder and renamed over it) with the backup's mode;
//  - identical: left alone.
// Everything in the live folders that the backup does not hold is moved into the set-aside
// folder, never deleted.
// Symlinks are never followed: a symlink in the backup is restored as a symlink with the same
// target text, a symlink on the system is replaced or set aside as the link itself. A live or
// backup folder that is itself a symlink is refused. Sockets, pipes and device nodes are
// skipped with a message.
class Restorer
{
public:
    Restorer(bool dryRun, QTextStream &out, QTextStream &err);

    // Restores one backup subfolder into its live folder. The set-aside folder is only created
    // when something has to be set aside. Returns false when any step failed; the remaining
    // steps are still carried out.
    bool restoreFolder(const QString &backupPath, const QString &livePath, const QString &asidePath);
    // The same for one file (a regular file in the backup); its current version is kept in
    // asidePath when it differs.
    bool restoreFile(const QString &backupPath, const QString &livePath, const QString &asidePath);

    int restoredCount() const
    {
        return m_restored;
    }
    int setAsideCount() const
    {
        return m_setAside;
    }
    int unchangedCount() const
    {
        return m_unchanged;
    }

private:
    bool restoreTree(const QString &backupDir, const QString &liveDir, const QString &asideDir);
    bool restoreEntry(const QString &backupPath, const QString &livePath, const QString &asidePath);
    bool moveAside(const QString &livePath, const QString &asidePath);
    bool copyAside(const QString &livePath, const struct stat &liveStat, const QString &asidePath);
    bool makeParents(const QString &path);
    bool fail(const QString &message);
    void note(const QString &verb, const QString &what);

    bool m_dryRun;
    QTextStream &m_out;
    QTextStream &m_err;
    int m_restored = 0;
    int m_setAside = 0;
    int m_unchanged = 0;
};
