// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The X servers running on the machine: the processes whose name contains "X" (Xorg, Xvfb,
// Xwayland), read once from the kernel's process list.
class XServers
{
public:
    struct Process {
        uint effectiveUid = 0;
        QString display; // the number of the ":N" argument; "0" when none is given
    };

    // Reads the process list below procRoot (the kernel's /proc unless a test gives another).
    static XServers running(const QString &procRoot = QString());

    QList<Process> processes() const
    {
        return m_processes;
    }

    // Whether an X server runs as root.
    bool rootStarted() const;

    // The X server logs to read, in this order: the one for the server's owner (root's log
    // when a server runs as root, otherwise the display manager's), then for every server
    // that does not run as root, the log such a server writes into its owner's home,
    // ~/.local/share/xorg/Xorg.<display>.log.
    QStringList logCandidates() const;

    // The contents of the first of those logs that can be read; nothing when none can. A log in
    // a home is its owner's to replace: it is read only when it is a regular file of that user,
    // never through a symbolic link, and at most the first maxHomeLogSize bytes of it.
    std::optional<QByteArray> readLog() const;
    static constexpr qint64 maxHomeLogSize = 16 * 1024 * 1024;

private:
    struct Log {
        QString path;
        int owner; // the user a log in a home must belong to; -1 for the system's logs
    };
    QList<Log> logs() const;

    QList<Process> m_processes;
};
