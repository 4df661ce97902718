// corvo-video-driver-restore: brings back the kernel-module and X server configuration that the
// driver manager saved before its first change, for use at a text console when the X session
// no longer starts.

#include "restore_debug.h"
#include "systempaths.h"
#include "restorer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

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
               "Restores %1 and %2 from the backup in %3, made by the driver manager before it first\n"
               "changed the graphics driver configuration.\n"
               "\n"
               "Files that differ from the backup are replaced with the backup's version (their current\n"
               "version is kept), missing files are recreated, and files the backup does not hold are\n"
               "moved into %3/%4YYYYMMDD-HHMMSS/. Nothing is deleted.\n"
               "Symlinks are restored as symlinks and never followed.\n"
               "Reboot afterwards.\n"
               "\n"
               "Exit codes:\n"
               "  0  restored (or already as in the backup); with --dry-run: the plan was printed\n"
               "  1  wrong command line\n"
               "  2  not run as root\n"
               "  3  no backup found\n"
               "  4  some steps failed (see the messages); the others were done\n")
        .arg(RestorePaths::folders().at(0).livePath,
             RestorePaths::folders().at(1).livePath,
             RestorePaths::backupDir(),
             RestorePaths::setAsidePrefix());
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
    struct stat st;
    bool anyBackup = false;
    if (::lstat(QFile::encodeName(backupDir).constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
        for (const RestorePaths::Folder &folder : RestorePaths::folders()) {
            const QString path = backupDir + QLatin1Char('/') + folder.backupName;
            anyBackup = anyBackup || (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode));
        }
    }
    if (!anyBackup) {
        err << QStringLiteral("corvo-video-driver-restore: no backup found in %1 (expected the folders modprobe.d and xorg.conf.d there); nothing was changed")
                   .arg(backupDir)
            << Qt::endl;
        return ExitNoBackup;
    }

    ::umask(022);
    const bool dryRun = parser.isSet(dryRunOption);
    const QString asideDir = freeSetAsideDir();
    qCDebug(RESTORE) << "restoring from" << backupDir << "set-aside folder" << asideDir << "dry run" << dryRun;

    Restorer restorer(dryRun, out, err);
    bool ok = true;
    for (const RestorePaths::Folder &folder : RestorePaths::folders()) {
        const QString backupPath = backupDir + QLatin1Char('/') + folder.backupName;
        if (::lstat(QFile::encodeName(backupPath).constData(), &st) != 0) {
            // The backup copy of this folder failed or the folder did not exist then: there is
            // no way to tell which, so the live folder is not touched.
            err << QStringLiteral("warning: the backup holds no %1; %2 is left as it is").arg(folder.backupName, folder.livePath) << Qt::endl;
            continue;
        }
        ok = restorer.restoreFolder(backupPath, folder.livePath, asideDir + QLatin1Char('/') + folder.backupName) && ok;
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
