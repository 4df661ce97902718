// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// corvo-video-driver-restore: brings back the kernel-module and X server configuration that the
// driver manager saved before its first change, for use at a text console when the X session
// no longer starts.

#include "backuplayout.h"
#include "busconfig.h"
#include "restore_debug.h"
#include "restorer.h"
#include "systempaths.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Exit codes, also listed in --help.
enum ExitCode {
    ExitSuccess = 0, // restored, or nothing to restore; with --dry-run: the plan was printed
    ExitUsage = 1, // unknown option or stray argument
    ExitNotRoot = 2, // not run as root
    ExitNoBackup = 3, // no usable backup folder
    ExitPartial = 4, // some steps failed; the others were carried out (see the messages)
};

QString helpText()
{
    return QStringLiteral(
               "Restores %1, %2 and %3 from a backup in %4, made by the driver manager before its\n"
               "first change of a boot. One backup is kept per boot, the last ten of them; the\n"
               "newest is restored unless --from names another (see --list).\n"
               "\n"
               "Files that differ from the backup are replaced with the backup's version (their current\n"
               "version is kept), missing files are recreated, and files the backup does not hold are\n"
               "moved into %4/%5YYYYMMDD-HHMMSS/. Nothing is deleted.\n"
               "Symlinks are restored as symlinks and never followed. When the boot loader defaults\n"
               "were restored, update-grub is run.\n"
               "Reboot afterwards.\n"
               "\n"
               "Exit codes:\n"
               "  0  restored (or already as in the backup); with --dry-run: the plan was printed\n"
               "  1  wrong command line\n"
               "  2  not run as root\n"
               "  3  no backup found (or none of the name given to --from)\n"
               "  4  some steps failed (see the messages); the others were done\n")
        .arg(BackupLayout::items().at(0).livePath,
             BackupLayout::items().at(1).livePath,
             BackupLayout::items().at(2).livePath,
             RestorePaths::backupDir(),
             RestorePaths::setAsidePrefix());
}

bool isRealFolder(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The backups on disk, oldest first, each with the folder that holds its copies. The single copy
// of the older layout, when there is one, is the oldest.
QList<QPair<QString, QString>> availableBackups()
{
    QList<QPair<QString, QString>> result;
    const QString root = RestorePaths::backupDir();
    if (!isRealFolder(root)) {
        return result;
    }
    bool legacy = false;
    for (const BackupLayout::Item &item : BackupLayout::items()) {
        legacy = legacy || (item.folder && isRealFolder(root + QLatin1Char('/') + item.name));
    }
    if (legacy) {
        result.append({RestorePaths::legacyName(), root});
    }
    for (const QString &name : BackupLayout::generations(root)) {
        result.append({name, root + QLatin1Char('/') + name});
    }
    return result;
}

QString freeSetAsideDir()
{
    const QString base = RestorePaths::backupDir() + QLatin1Char('/') + RestorePaths::setAsidePrefix()
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString candidate = base;
    struct stat st;
    for (int n = 2; ::lstat(QFile::encodeName(candidate).constData(), &st) == 0; ++n) {
        candidate = base + QLatin1Char('-') + QString::number(n);
    }
    return candidate;
}
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvo-video-driver-restore"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));

    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(helpText());
    const QCommandLineOption helpOption = parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dryRunOption(QStringLiteral("dry-run"), QStringLiteral("Print what would be done and change nothing."));
    parser.addOption(dryRunOption);
    const QCommandLineOption listOption(QStringLiteral("list"), QStringLiteral("List the backups, oldest first, and change nothing."));
    parser.addOption(listOption);
    const QCommandLineOption fromOption(QStringLiteral("from"),
                                        QStringLiteral("Restore the backup of this date (as --list shows it) instead of the newest."),
                                        QStringLiteral("DATE"));
    parser.addOption(fromOption);

    if (!parser.parse(app.arguments())) {
        err << QStringLiteral("corvo-video-driver-restore: ") << parser.errorText() << Qt::endl
            << QStringLiteral("Try 'corvo-video-driver-restore --help'.") << Qt::endl;
        return ExitUsage;
    }
    if (parser.isSet(helpOption)) {
        parser.showHelp(ExitSuccess);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion();
    }
    if (!parser.positionalArguments().isEmpty()) {
        err << QStringLiteral("corvo-video-driver-restore: unexpected argument: ") << parser.positionalArguments().constFirst() << Qt::endl
            << QStringLiteral("Try 'corvo-video-driver-restore --help'.") << Qt::endl;
        return ExitUsage;
    }

    if (::geteuid() != 0) {
        err << QStringLiteral("corvo-video-driver-restore: must be run as root, for example: sudo corvo-video-driver-restore") << Qt::endl;
        return ExitNotRoot;
    }

    // The backup folder itself must be a real folder: the set-aside folder is created in it.
    const QString backupDir = RestorePaths::backupDir();
    const QList<QPair<QString, QString>> backups = availableBackups();
    if (backups.isEmpty()) {
        err << QStringLiteral("corvo-video-driver-restore: no backup found in %1; nothing was changed").arg(backupDir) << Qt::endl;
        return ExitNoBackup;
    }
    if (parser.isSet(listOption)) {
        for (const auto &backup : backups) {
            out << backup.first << (backup == backups.constLast() ? QStringLiteral("  (newest, restored by default)") : QString()) << Qt::endl;
        }
        return ExitSuccess;
    }
    QPair<QString, QString> chosen = backups.constLast();
    if (parser.isSet(fromOption)) {
        const QString wanted = parser.value(fromOption);
        const auto found = std::find_if(backups.cbegin(), backups.cend(), [&](const QPair<QString, QString> &backup) {
            return backup.first == wanted;
        });
        if (found == backups.cend()) {
            err << QStringLiteral("corvo-video-driver-restore: no backup of %1 in %2 (see --list); nothing was changed").arg(wanted, backupDir) << Qt::endl;
            return ExitNoBackup;
        }
        chosen = *found;
    }
    struct stat st;

    ::umask(022);
    const bool dryRun = parser.isSet(dryRunOption);
    const QString asideDir = freeSetAsideDir();
    qCDebug(RESTORE) << "restoring from" << backupDir << "set-aside folder" << asideDir << "dry run" << dryRun;

    out << QStringLiteral("Restoring the backup %1").arg(chosen.first) << Qt::endl;
    Restorer restorer(dryRun, out, err);
    bool ok = true;
    bool grubRestored = false;
    for (const BackupLayout::Item &item : BackupLayout::items()) {
        const QString backupPath = chosen.second + QLatin1Char('/') + item.name;
        if (::lstat(QFile::encodeName(backupPath).constData(), &st) != 0) {
            // The backup copy of this item failed or it did not exist then: there is no way to
            // tell which, so the live one is not touched.
            if (item.folder) {
                err << QStringLiteral("warning: the backup holds no %1; %2 is left as it is").arg(item.name, item.livePath) << Qt::endl;
            }
            continue;
        }
        const QString aside = asideDir + QLatin1Char('/') + item.name;
        if (item.folder) {
            ok = restorer.restoreFolder(backupPath, item.livePath, aside) && ok;
        } else {
            const int before = restorer.restoredCount();
            ok = restorer.restoreFile(backupPath, item.livePath, aside) && ok;
            grubRestored = restorer.restoredCount() > before;
        }
    }
    if (grubRestored && !dryRun) {
        QProcess updateGrub;
        updateGrub.setProgram(RestorePaths::updateGrubProgram());
        updateGrub.setProcessChannelMode(QProcess::ForwardedChannels);
        updateGrub.start();
        const bool ran = updateGrub.waitForStarted(TimeLimits::processMs) && updateGrub.waitForFinished(TimeLimits::updateGrubMs);
        if (!ran || updateGrub.exitStatus() != QProcess::NormalExit || updateGrub.exitCode() != 0) {
            updateGrub.kill();
            updateGrub.waitForFinished(5000);
            err << QStringLiteral("error: %1 failed; run it again before rebooting").arg(RestorePaths::updateGrubProgram()) << Qt::endl;
            ok = false;
        }
    } else if (grubRestored) {
        out << QStringLiteral("would run: %1").arg(RestorePaths::updateGrubProgram()) << Qt::endl;
    }

    out << (dryRun ? QStringLiteral("Dry run, nothing was changed: ") : QString())
        << QStringLiteral("%1 restored, %2 set aside, %3 unchanged.").arg(restorer.restoredCount()).arg(restorer.setAsideCount()).arg(restorer.unchangedCount())
        << Qt::endl;
    if (!dryRun && restorer.setAsideCount() > 0) {
        out << QStringLiteral("Set-aside files are in %1").arg(asideDir) << Qt::endl;
    }
    if (!ok) {
        err << QStringLiteral("corvo-video-driver-restore: some steps failed, see the messages above") << Qt::endl;
        return ExitPartial;
    }
    if (!dryRun && restorer.restoredCount() + restorer.setAsideCount() > 0) {
        out << QStringLiteral("Reboot to start the X server with the restored configuration.") << Qt::endl;
    }
    return ExitSuccess;
}
