// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "xservers.h"
#include "systempaths.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <vector>

namespace
{
// The effective user of the "Uid:" line (real, effective, saved, file system) of a status file.
bool effectiveUid(const QByteArray &status, uint *uid)
{
    for (const QByteArray &line : status.split('\n')) {
        if (!line.startsWith("Uid:")) {
            continue;
        }
        const QList<QByteArray> fields = line.mid(4).simplified().split(' ');
        bool ok = false;
        *uid = fields.value(1).toUInt(&ok);
        return ok;
    }
    return false;
}

// The display of an X server's command line: the first argument ":N".
QString displayOf(const QByteArray &cmdline)
{
    static const QRegularExpression display(QStringLiteral("^:(\\d+)$"));
    const QList<QByteArray> arguments = cmdline.split('\0');
    for (int i = 1; i < arguments.size(); ++i) {
        const QRegularExpressionMatch match = display.match(QString::fromLocal8Bit(arguments.at(i)));
        if (match.hasMatch()) {
            return match.captured(1);
        }
    }
    return QStringLiteral("0");
}

QByteArray readSmall(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    return file.read(64 * 1024);
}

QString homeOf(uint uid)
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? size_t(size) : 16384);
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(uid_t(uid), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir || found->pw_dir[0] != '/') {
        return QString();
    }
    return QFile::decodeName(found->pw_dir);
}
}

XServers XServers::running(const QString &procRoot)
{
    XServers result;
    const QString root = procRoot.isEmpty() ? SystemPaths::processList() : procRoot;
    const QStringList entries = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        entry.toLongLong(&numeric);
        if (!numeric) {
            continue;
        }
        // The kernel's name of the process (at most 15 bytes), as process tools match it.
        const QString dir = root + QLatin1Char('/') + entry;
        const QByteArray name = readSmall(dir + QStringLiteral("/comm"));
        if (!name.contains('X')) {
            continue;
        }
        Process process;
        if (!effectiveUid(readSmall(dir + QStringLiteral("/status")), &process.effectiveUid)) {
            continue; // gone meanwhile
        }
        process.display = displayOf(readSmall(dir + QStringLiteral("/cmdline")));
        result.m_processes.append(process);
    }
    return result;
}

bool XServers::rootStarted() const
{
    for (const Process &process : m_processes) {
        if (process.effectiveUid == 0) {
            return true;
        }
    }
    return false;
}

QList<XServers::Log> XServers::logs() const
{
    QList<Log> result{{rootStarted() ? SystemPaths::rootXLog() : SystemPaths::displayManagerXLog(), -1}};
    for (const Process &process : m_processes) {
        if (process.effectiveUid == 0) {
            continue;
        }
        const QString home = homeOf(process.effectiveUid);
        if (home.isEmpty()) {
            continue;
        }
        const Log log{home + SystemPaths::userXLogInHome().arg(process.display), int(process.effectiveUid)};
        const bool known = std::any_of(result.cbegin(), result.cend(), [&log](const Log &other) {
            return other.path == log.path;
        });
        if (!known) {
            result.append(log);
        }
    }
    return result;
}

QStringList XServers::logCandidates() const
{
    QStringList result;
    for (const Log &log : logs()) {
        result.append(log.path);
    }
    return result;
}

namespace
{
std::optional<QByteArray> readHomeLog(const QString &path, uid_t owner)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<QByteArray> result;
    struct stat info {
    };
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == owner) {
        QFile file;
        if (file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
            result = file.read(XServers::maxHomeLogSize);
        }
    }
    ::close(fd);
    return result;
}
}

std::optional<QByteArray> XServers::readLog() const
{
    for (const Log &log : logs()) {
        if (log.owner >= 0) {
            if (std::optional<QByteArray> data = readHomeLog(log.path, uid_t(log.owner))) {
                return data;
            }
            continue;
        }
        QFile file(log.path);
        if (file.open(QIODevice::ReadOnly)) {
            return file.readAll();
        }
    }
    return std::nullopt;
}
