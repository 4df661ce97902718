// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "restorer.h"

#include "restore_debug.h"
#include "systempaths.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{
QByteArray enc(const QString &path)
{
    return QFile::encodeName(path);
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// lstat(): 0 on success, otherwise the errno (ENOENT for a missing entry).
int lstatPath(const QString &path, struct stat *st)
{
    return ::lstat(enc(path).constData(), st) == 0 ? 0 : errno;
}

QString joined(const QString &dir, const QString &name)
{
    return dir + QLatin1Char('/') + name;
}

QStringList entriesOf(const QString &dir)
{
    // Names only; every entry is looked at with lstat() afterwards, so no symlink is followed.
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

bool readRegular(const QString &path, QByteArray *data, QString *error)
{
    const int fd = ::open(enc(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, errnoText(errno));
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = QStringLiteral("%1 is not a regular file").arg(path);
        ::close(fd);
        return false;
    }
    if (st.st_size > RestorePaths::maxFileSize) {
        *error = QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(RestorePaths::maxFileSize);
        ::close(fd);
        return false;
    }
    data->clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            *error = QStringLiteral("cannot read %1: %2").arg(path, errnoText(errno));
            ::close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        data->append(buffer, int(n));
        if (data->size() > RestorePaths::maxFileSize) {
            *error = QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(RestorePaths::maxFileSize);
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
}

bool readLinkText(const QString &path, QByteArray *target, QString *error)
{
    QByteArray buffer(4096, '\0');
    const ssize_t n = ::readlink(enc(path).constData(), buffer.data(), size_t(buffer.size()));
    if (n < 0 || n >= buffer.size()) {
        *error = QStringLiteral("cannot read the symlink %1: %2").arg(path, n < 0 ? errnoText(errno) : QStringLiteral("target too long"));
        return false;
    }
    buffer.truncate(int(n));
    *target = buffer;
    return true;
}

bool writeAll(int fd, const QByteArray &data)
{
    qint64 done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += n;
    }
    return true;
}

void syncDir(const QString &dir)
{
    const int fd = ::open(enc(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// A fresh name in the folder of target, for a temporary entry that is renamed over target.
QString temporaryNameFor(const QString &target)
{
    const int slash = target.lastIndexOf(QLatin1Char('/'));
    return target.left(slash + 1) + QLatin1Char('.') + target.mid(slash + 1) + QStringLiteral(".restore-")
        + QString::number(QRandomGenerator::global()->generate(), 36);
}

// Writes data to a temporary file beside target with the given mode and owner and renames it
// over target: readers see either the old or the new file, never a partial one, and an entry
// at target (file or symlink) is replaced, never written through.
bool writeFileAtomically(const QString &target, const QByteArray &data, const struct stat &like, QString *error)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString temp = temporaryNameFor(target);
        const int fd = ::open(enc(temp).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) {
            continue;
        }
        if (fd < 0) {
            *error = QStringLiteral("cannot create a temporary file beside %1: %2").arg(target, errnoText(errno));
            return false;
        }
        bool ok = writeAll(fd, data);
        int savedErrno = ok ? 0 : errno;
        if (ok && ::fchown(fd, like.st_uid, like.st_gid) != 0) {
            ok = false;
            savedErrno = errno;
        }
        if (ok && ::fchmod(fd, like.st_mode & 07777) != 0) {
            ok = false;
            savedErrno = errno;
        }
        if (ok && ::fsync(fd) != 0) {
            ok = false;
            savedErrno = errno;
        }
        if (::close(fd) != 0 && ok) {
            ok = false;
            savedErrno = errno;
        }
        if (ok && ::rename(enc(temp).constData(), enc(target).constData()) != 0) {
            ok = false;
            savedErrno = errno;
        }
        if (!ok) {
            ::unlink(enc(temp).constData());
            *error = QStringLiteral("cannot write %1: %2").arg(target, errnoText(savedErrno));
            return false;
        }
        syncDir(QFileInfo(target).path());
        return true;
    }
    *error = QStringLiteral("cannot find a free temporary name beside %1").arg(target);
    return false;
}

bool symlinkAtomically(const QString &target, const QByteArray &linkText, const struct stat &like, QString *error)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString temp = temporaryNameFor(target);
        if (::symlink(linkText.constData(), enc(temp).constData()) != 0) {
            if (errno == EEXIST) {
                continue;
            }
            *error = QStringLiteral("cannot create a symlink beside %1: %2").arg(target, errnoText(errno));
            return false;
        }
        if (::lchown(enc(temp).constData(), like.st_uid, like.st_gid) != 0) {
            // The link still points where the backup's did; only its owner differs.
            qCWarning(RESTORE) << "cannot give" << target << "its owner back:" << errnoText(errno);
        }
        if (::rename(enc(temp).constData(), enc(target).constData()) != 0) {
            const int savedErrno = errno;
            ::unlink(enc(temp).constData());
            *error = QStringLiteral("cannot replace %1: %2").arg(target, errnoText(savedErrno));
            return false;
        }
        syncDir(QFileInfo(target).path());
        return true;
    }
    *error = QStringLiteral("cannot find a free temporary name beside %1").arg(target);
    return false;
}
}

Restorer::Restorer(bool dryRun, QTextStream &out, QTextStream &err)
    : m_dryRun(dryRun)
    , m_out(out)
    , m_err(err)
{
}

bool Restorer::fail(const QString &message)
{
    qCWarning(RESTORE) << message;
    m_err << QStringLiteral("error: ") << message << Qt::endl;
    return false;
}

void Restorer::note(const QString &verb, const QString &what)
{
    m_out << (m_dryRun ? QStringLiteral("would ") : QString()) << verb << QStringLiteral(": ") << what << Qt::endl;
}

bool Restorer::restoreFolder(const QString &backupPath, const QString &livePath, const QString &asidePath)
{
    struct stat backupStat;
    int error = lstatPath(backupPath, &backupStat);
    if (error != 0 || !S_ISDIR(backupStat.st_mode)) {
        return fail(QStringLiteral("the backup folder %1 is missing or not a folder; %2 is left as it is").arg(backupPath, livePath));
    }
    struct stat liveStat;
    error = lstatPath(livePath, &liveStat);
    if (error == ENOENT) {
        note(QStringLiteral("create folder"), livePath);
        if (!m_dryRun && ::mkdir(enc(livePath).constData(), backupStat.st_mode & 07777) != 0) {
            return fail(QStringLiteral("cannot create %1: %2").arg(livePath, errnoText(errno)));
        }
        return restoreTree(backupPath, livePath, asidePath);
    }
    if (error != 0) {
        return fail(QStringLiteral("cannot look at %1: %2").arg(livePath, errnoText(error)));
    }
    if (!S_ISDIR(liveStat.st_mode)) {
        // Covers a symlink too: following it could make the restore write somewhere else.
        return fail(QStringLiteral("%1 is not a real folder (a symlink or a file); it is left as it is").arg(livePath));
    }
    return restoreTree(backupPath, livePath, asidePath);
}

bool Restorer::restoreFile(const QString &backupPath, const QString &livePath, const QString &asidePath)
{
    struct stat st;
    if (lstatPath(backupPath, &st) != 0 || !S_ISREG(st.st_mode)) {
        return fail(QStringLiteral("the backup file %1 is missing or not a file; %2 is left as it is").arg(backupPath, livePath));
    }
    return restoreEntry(backupPath, livePath, asidePath);
}

bool Restorer::restoreTree(const QString &backupDir, const QString &liveDir, const QString &asideDir)
{
    bool ok = true;
    const QStringList backupEntries = entriesOf(backupDir);
    for (const QString &name : backupEntries) {
        ok = restoreEntry(joined(backupDir, name), joined(liveDir, name), joined(asideDir, name)) && ok;
    }
    // What the backup does not hold goes aside. In a dry run a folder that would have been
    // created does not exist, and its listing is simply empty.
    const QStringList liveEntries = entriesOf(liveDir);
    for (const QString &name : liveEntries) {
        if (backupEntries.contains(name)) {
            continue;
        }
        ok = moveAside(joined(liveDir, name), joined(asideDir, name)) && ok;
    }
    return ok;
}

bool Restorer::restoreEntry(const QString &backupPath, const QString &livePath, const QString &asidePath)
{
    struct stat bs;
    int error = lstatPath(backupPath, &bs);
    if (error != 0) {
        return fail(QStringLiteral("cannot look at %1: %2").arg(backupPath, errnoText(error)));
    }
    struct stat ls;
    error = lstatPath(livePath, &ls);
    const bool liveExists = error == 0;
    if (!liveExists && error != ENOENT && error != ENOTDIR) {
        return fail(QStringLiteral("cannot look at %1: %2").arg(livePath, errnoText(error)));
    }

    if (S_ISDIR(bs.st_mode)) {
        if (liveExists && S_ISDIR(ls.st_mode)) {
            return restoreTree(backupPath, livePath, asidePath);
        }
        if (liveExists && !moveAside(livePath, asidePath)) {
            return false;
        }
        note(QStringLiteral("create folder"), livePath);
        if (!m_dryRun) {
            if (::mkdir(enc(livePath).constData(), bs.st_mode & 07777) != 0) {
                return fail(QStringLiteral("cannot create %1: %2").arg(livePath, errnoText(errno)));
            }
            if (::chown(enc(livePath).constData(), bs.st_uid, bs.st_gid) != 0) {
                qCWarning(RESTORE) << "cannot give" << livePath << "its owner back:" << errnoText(errno);
            }
            ::chmod(enc(livePath).constData(), bs.st_mode & 07777);
        }
        return restoreTree(backupPath, livePath, asidePath);
    }

    if (!S_ISREG(bs.st_mode) && !S_ISLNK(bs.st_mode)) {
        m_err << QStringLiteral("skipped: ") << backupPath << QStringLiteral(" is not a file, folder or symlink") << Qt::endl;
        return true;
    }

    QString message;
    QByteArray wanted;
    if (S_ISREG(bs.st_mode) ? !readRegular(backupPath, &wanted, &message) : !readLinkText(backupPath, &wanted, &message)) {
        return fail(message);
    }

    QString verb = QStringLiteral("recreate");
    QString reason = QStringLiteral("missing");
    if (liveExists) {
        if (S_ISREG(ls.st_mode) && S_ISREG(bs.st_mode)) {
            QByteArray current;
            if (!readRegular(livePath, &current, &message)) {
                return fail(message);
            }
            if (current == wanted && (ls.st_mode & 07777) == (bs.st_mode & 07777)) {
                ++m_unchanged;
                return true;
            }
            reason = current == wanted ? QStringLiteral("mode changed") : QStringLiteral("content changed");
        } else if (S_ISLNK(ls.st_mode) && S_ISLNK(bs.st_mode)) {
            QByteArray current;
            if (!readLinkText(livePath, &current, &message)) {
                return fail(message);
            }
            if (current == wanted) {
                ++m_unchanged;
                return true;
            }
            reason = QStringLiteral("symlink target changed");
        } else {
            reason = QStringLiteral("type changed");
        }
        verb = QStringLiteral("restore");
        // Keep the administrator's current version before it is replaced.
        const bool keptAside = S_ISDIR(ls.st_mode) ? moveAside(livePath, asidePath) : copyAside(livePath, ls, asidePath);
        if (!keptAside) {
            return fail(QStringLiteral("%1 is not restored because its current version could not be set aside").arg(livePath));
        }
    }

    note(verb, QStringLiteral("%1 (%2)").arg(livePath, reason));
    if (m_dryRun) {
        ++m_restored;
        return true;
    }
    const bool written = S_ISREG(bs.st_mode) ? writeFileAtomically(livePath, wanted, bs, &message) : symlinkAtomically(livePath, wanted, bs, &message);
    if (!written) {
        return fail(message);
    }
    ++m_restored;
    return true;
}

bool Restorer::makeParents(const QString &path)
{
    const QString parent = QFileInfo(path).path();
    if (!QDir().mkpath(parent)) {
        return fail(QStringLiteral("cannot create the folder %1").arg(parent));
    }
    return true;
}

bool Restorer::copyAside(const QString &livePath, const struct stat &liveStat, const QString &asidePath)
{
    note(QStringLiteral("save current version"), QStringLiteral("%1 -> %2").arg(livePath, asidePath));
    ++m_setAside;
    if (m_dryRun) {
        return true;
    }
    if (!makeParents(asidePath)) {
        return false;
    }
    QString message;
    QByteArray data;
    if (S_ISLNK(liveStat.st_mode)) {
        if (!readLinkText(livePath, &data, &message)) {
            return fail(message);
        }
        if (::symlink(data.constData(), enc(asidePath).constData()) != 0) {
            return fail(QStringLiteral("cannot create %1: %2").arg(asidePath, errnoText(errno)));
        }
        return true;
    }
    if (!readRegular(livePath, &data, &message)) {
        return fail(message);
    }
    const int fd = ::open(enc(asidePath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return fail(QStringLiteral("cannot create %1: %2").arg(asidePath, errnoText(errno)));
    }
    bool ok = writeAll(fd, data) && ::fchmod(fd, liveStat.st_mode & 07777) == 0 && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        return fail(QStringLiteral("cannot write %1: %2").arg(asidePath, errnoText(errno)));
    }
    return true;
}

bool Restorer::moveAside(const QString &livePath, const QString &asidePath)
{
    note(QStringLiteral("set aside"), QStringLiteral("%1 -> %2").arg(livePath, asidePath));
    ++m_setAside;
    if (m_dryRun) {
        return true;
    }
    if (!makeParents(asidePath)) {
        return false;
    }
    if (::rename(enc(livePath).constData(), enc(asidePath).constData()) == 0) {
        return true;
    }
    if (errno != EXDEV) {
        return fail(QStringLiteral("cannot move %1 to %2: %3").arg(livePath, asidePath, errnoText(errno)));
    }

    // The backup lives on another file system: copy, then remove the original only once the
    // copy is complete.
    struct stat ls;
    const int error = lstatPath(livePath, &ls);
    if (error != 0) {
        return fail(QStringLiteral("cannot look at %1: %2").arg(livePath, errnoText(error)));
    }
    if (S_ISREG(ls.st_mode) || S_ISLNK(ls.st_mode)) {
        const bool wasDry = m_dryRun;
        // copyAside() notes and counts; this entry was already noted and counted once.
        QString dummy;
        QTextStream silent(&dummy);
        Restorer quiet(wasDry, silent, m_err);
        if (!quiet.copyAside(livePath, ls, asidePath)) {
            return false;
        }
        if (::unlink(enc(livePath).constData()) != 0) {
            return fail(QStringLiteral("%1 was copied to %2 but cannot be removed: %3").arg(livePath, asidePath, errnoText(errno)));
        }
        return true;
    }
    if (S_ISDIR(ls.st_mode)) {
        if (::mkdir(enc(asidePath).constData(), ls.st_mode & 07777) != 0) {
            return fail(QStringLiteral("cannot create %1: %2").arg(asidePath, errnoText(errno)));
        }
        QString dummy;
        QTextStream silent(&dummy);
        Restorer quiet(false, silent, m_err);
        bool ok = true;
        for (const QString &name : entriesOf(livePath)) {
            ok = quiet.moveAside(joined(livePath, name), joined(asidePath, name)) && ok;
        }
        if (ok && ::rmdir(enc(livePath).constData()) != 0) {
            return fail(QStringLiteral("cannot remove the emptied folder %1: %2").arg(livePath, errnoText(errno)));
        }
        return ok;
    }
    return fail(QStringLiteral("%1 is not a file, folder or symlink and stays where it is").arg(livePath));
}
