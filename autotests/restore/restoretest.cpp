// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Runs corvo-video-driver-restore against fixture folders. The test process moves itself into a
// private mount namespace and mounts fresh tmpfs folders over /etc/modprobe.d,
// /etc/X11/xorg.conf.d and /usr/share/vela-admin-video-driver for every case, so the command
// runs unchanged on its fixed paths and the host is never touched.

#include "asnobody.h"
#include "visibleskip.h"
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
const QString backupRoot = QStringLiteral("/usr/share/vela-admin-video-driver");
const QString modprobeDir = QStringLiteral("/etc/modprobe.d");
const QString xorgDir = QStringLiteral("/etc/X11/xorg.conf.d");

QByteArray enc(const QString &path)
{
    return QFile::encodeName(path);
}

bool mountTmpfs(const QString &where)
{
    return ::mount("tmpfs", enc(where).constData(), "tmpfs", 0, "mode=0755") == 0;
}

void writeFile(const QString &path, const QByteArray &data, mode_t mode)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    file.write(data);
    file.close();
    QCOMPARE(::chmod(enc(path).constData(), mode), 0);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArrayLiteral("<unreadable>");
    }
    return file.readAll();
}

void copyTree(const QString &from, const QString &to)
{
    QDir().mkpath(to);
    const QDir source(from);
    for (const QFileInfo &info : source.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString target = to + QLatin1Char('/') + info.fileName();
        if (info.isDir()) {
            copyTree(info.filePath(), target);
        } else {
            QVERIFY(QFile::copy(info.filePath(), target));
            QCOMPARE(::chmod(enc(target).constData(), 0644), 0);
        }
    }
}

// Type, mode and content (or link text) of every entry below root, by relative path.
QMap<QString, QString> snapshot(const QString &root)
{
    QMap<QString, QString> result;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st;
        if (::lstat(enc(path).constData(), &st) != 0) {
            continue;
        }
        QString description = QString::number(st.st_mode, 8) + QLatin1Char(' ');
        if (S_ISLNK(st.st_mode)) {
            description += QStringLiteral("-> ") + QFile::symLinkTarget(path);
        } else if (S_ISREG(st.st_mode)) {
            description += QString::fromUtf8(readFile(path));
        }
        result.insert(path.mid(root.size()), description);
    }
    return result;
}

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run runRestore(const QStringList &args, bool asNobody = false)
{
    QProcess process;
    if (asNobody) {
        process.start(AsNobody::program(), AsNobody::arguments(QStringLiteral(RESTORE_BINARY), args));
    } else {
        process.start(QStringLiteral(RESTORE_BINARY), args);
    }
    Run run;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}
}

class RestoreTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void restore_data();
    void restore();
    void secondRunChangesNothing();
    void dryRun();
    void missingBackup_data();
    void missingBackup();
    void nonRoot_data();
    void nonRoot();
    void oversizedBackupFile_data();
    void oversizedBackupFile();
    void commandLine_data();
    void commandLine();
    void cleanupTestCase();

private:
    QString setAsideDir() const;
    void ensureMountPoint(const QString &path);

    QTemporaryDir m_scratch;
    QString m_outside; // a tmpfs outside the restored folders, the target of hostile symlinks
    QString m_fixtures;
    QStringList m_mounted;
};

// Makes an empty folder usable as a mount point without creating it on the host: when it does
// not exist, its parent is covered with an overlay whose writable layer lives in a tmpfs.
void RestoreTest::ensureMountPoint(const QString &path)
{
    if (QFileInfo(path).isDir()) {
        return;
    }
    const QString parent = QFileInfo(path).path();
    QVERIFY2(QFileInfo(parent).isDir(), qPrintable(parent));
    const QString layer = m_scratch.path() + QStringLiteral("/overlay") + QString(parent).replace(QLatin1Char('/'), QLatin1Char('_'));
    QVERIFY(QDir().mkpath(layer + QStringLiteral("/upper")));
    QVERIFY(QDir().mkpath(layer + QStringLiteral("/work")));
    const QByteArray options = "lowerdir=" + enc(parent) + ",upperdir=" + enc(layer) + "/upper,workdir=" + enc(layer) + "/work";
    QVERIFY2(::mount("overlay", enc(parent).constData(), "overlay", 0, options.constData()) == 0, std::strerror(errno));
    QVERIFY(QDir().mkdir(path));
}

void RestoreTest::initTestCase()
{
    if (::geteuid() != 0) {
        TEST_SKIP("needs root: the fixture folders are mounted over /etc and /usr/share in a private mount namespace");
    }
    if (::unshare(CLONE_NEWNS) != 0) {
        TEST_SKIP(qPrintable(QStringLiteral("cannot create a private mount namespace: %1").arg(QString::fromLocal8Bit(std::strerror(errno)))));
    }
    QVERIFY2(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0, std::strerror(errno));

    QVERIFY(m_scratch.isValid());
    // Everything written below the scratch folder stays in the namespace.
    QVERIFY(mountTmpfs(m_scratch.path()));
    m_outside = m_scratch.path() + QStringLiteral("/outside");
    QVERIFY(QDir().mkpath(m_outside));

    ensureMountPoint(backupRoot);
    ensureMountPoint(xorgDir);

    m_fixtures = QFINDTESTDATA("fixtures/backup/modprobe.d/nouveau.conf");
    QVERIFY(!m_fixtures.isEmpty());
    m_fixtures = QFileInfo(m_fixtures).dir().absoluteFilePath(QStringLiteral("../.."));
}

void RestoreTest::init()
{
    for (const QString &path : {backupRoot, modprobeDir, xorgDir}) {
        QVERIFY2(mountTmpfs(path), qPrintable(path));
        m_mounted.append(path);
    }
    copyTree(m_fixtures + QStringLiteral("/backup"), backupRoot);
    copyTree(m_fixtures + QStringLiteral("/live/modprobe.d"), modprobeDir);
    copyTree(m_fixtures + QStringLiteral("/live/xorg.conf.d"), xorgDir);

    // Modes and symlinks are set up here, where they are visible to the reader.
    QCOMPARE(::chmod(enc(backupRoot + QStringLiteral("/modprobe.d/blacklist-nvidia.conf")).constData(), 0640), 0);
    // Same content as the backup, different mode: must be restored too.
    QCOMPARE(::chmod(enc(xorgDir + QStringLiteral("/10-keyboard.conf")).constData(), 0600), 0);
    // The backup holds a symlink: restored as a symlink, never dereferenced.
    QCOMPARE(::symlink("/usr/share/X11/xorg.conf.d/40-libinput.conf", enc(backupRoot + QStringLiteral("/xorg.conf.d/40-libinput.conf")).constData()), 0);
    // A live symlink pointing out of the folder where the backup holds a file: the restore must
    // replace the link, not write through it.
    writeFile(m_outside + QStringLiteral("/victim.conf"), QByteArrayLiteral("outside, must stay\n"), 0644);
    QCOMPARE(::symlink(enc(m_outside + QStringLiteral("/victim.conf")).constData(), enc(modprobeDir + QStringLiteral("/i915.conf")).constData()), 0);
    // An extra live symlink to a file outside: moved aside as a link, its target untouched.
    QCOMPARE(::symlink(enc(m_outside + QStringLiteral("/victim.conf")).constData(), enc(xorgDir + QStringLiteral("/50-link.conf")).constData()), 0);
}

void RestoreTest::cleanup()
{
    while (!m_mounted.isEmpty()) {
        const QString path = m_mounted.takeLast();
        QVERIFY2(::umount2(enc(path).constData(), MNT_DETACH) == 0, qPrintable(path));
    }
    QFile::remove(m_outside + QStringLiteral("/victim.conf"));
}

void RestoreTest::cleanupTestCase()
{
    if (!m_outside.isEmpty()) {
        ::umount2(enc(m_scratch.path()).constData(), MNT_DETACH);
    }
}

QString RestoreTest::setAsideDir() const
{
    const QStringList dirs = QDir(backupRoot).entryList({QStringLiteral("set-aside-*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    return dirs.size() == 1 ? backupRoot + QLatin1Char('/') + dirs.first() : QString();
}

void RestoreTest::restore_data()
{
    // path: absolute, or "aside:" + path below the one set-aside folder.
    // kind: "file", "link" or "absent"; expected: content or link target; mode for files.
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("mode");

    const QByteArray nouveau = readFile(QFINDTESTDATA("fixtures/backup/modprobe.d/nouveau.conf"));
    const QByteArray snippet = readFile(QFINDTESTDATA("fixtures/backup/xorg.conf.d/20-vela-admin-video-driver.conf"));
    const QByteArray changedSnippet = readFile(QFINDTESTDATA("fixtures/live/xorg.conf.d/20-vela-admin-video-driver.conf"));
    const QByteArray keyboard = readFile(QFINDTESTDATA("fixtures/backup/xorg.conf.d/10-keyboard.conf"));

    QTest::newRow("changed file reverted") << modprobeDir + QStringLiteral("/nouveau.conf") << QStringLiteral("file") << nouveau << 0644;
    QTest::newRow("changed snippet reverted") << xorgDir + QStringLiteral("/20-vela-admin-video-driver.conf") << QStringLiteral("file") << snippet << 0644;
    QTest::newRow("missing file recreated with the backup's mode") << modprobeDir + QStringLiteral("/blacklist-nvidia.conf") << QStringLiteral("file")
                                                                   << QByteArrayLiteral("blacklist nvidia\nblacklist nvidia_drm\n") << 0640;
    QTest::newRow("mode-only change reverted") << xorgDir + QStringLiteral("/10-keyboard.conf") << QStringLiteral("file") << keyboard << 0644;
    QTest::newRow("symlink in backup restored as symlink")
        << xorgDir + QStringLiteral("/40-libinput.conf") << QStringLiteral("link") << QByteArrayLiteral("/usr/share/X11/xorg.conf.d/40-libinput.conf") << 0;
    QTest::newRow("live symlink replaced, not written through")
        << modprobeDir + QStringLiteral("/i915.conf") << QStringLiteral("file") << QByteArrayLiteral("options i915 enable_guc=2\n") << 0644;
    QTest::newRow("symlink target outside untouched") << m_outside + QStringLiteral("/victim.conf") << QStringLiteral("file")
                                                      << QByteArrayLiteral("outside, must stay\n") << 0644;
    QTest::newRow("extra file gone from live") << modprobeDir + QStringLiteral("/nvidia-extra.conf") << QStringLiteral("absent") << QByteArray() << 0;
    QTest::newRow("extra file moved aside intact") << QStringLiteral("aside:modprobe.d/nvidia-extra.conf") << QStringLiteral("file")
                                                   << QByteArrayLiteral("options nvidia-drm modeset=1\n") << 0644;
    QTest::newRow("extra folder moved aside with its content") << QStringLiteral("aside:xorg.conf.d/extra-dir/inner.conf") << QStringLiteral("file")
                                                               << QByteArrayLiteral("Section \"OutputClass\"\nEndSection\n") << 0644;
    QTest::newRow("extra folder gone from live") << xorgDir + QStringLiteral("/extra-dir") << QStringLiteral("absent") << QByteArray() << 0;
    QTest::newRow("extra symlink moved aside as a link")
        << QStringLiteral("aside:xorg.conf.d/50-link.conf") << QStringLiteral("link") << enc(m_outside + QStringLiteral("/victim.conf")) << 0;
    QTest::newRow("replaced version kept aside") << QStringLiteral("aside:xorg.conf.d/20-vela-admin-video-driver.conf") << QStringLiteral("file")
                                                 << changedSnippet << 0644;
    QTest::newRow("replaced symlink kept aside as a link")
        << QStringLiteral("aside:modprobe.d/i915.conf") << QStringLiteral("link") << enc(m_outside + QStringLiteral("/victim.conf")) << 0;
    QTest::newRow("unchanged file not set aside") << QStringLiteral("aside:xorg.conf.d/10-keyboard.conf.missing") << QStringLiteral("absent") << QByteArray()
                                                  << 0;
    QTest::newRow("backup itself untouched") << backupRoot + QStringLiteral("/modprobe.d/nouveau.conf") << QStringLiteral("file") << nouveau << 0644;
}

void RestoreTest::restore()
{
    QFETCH(QString, path);
    QFETCH(QString, kind);
    QFETCH(QByteArray, expected);
    QFETCH(int, mode);

    const Run run = runRestore({});
    QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
    QVERIFY2(run.out.contains(QStringLiteral("Set-aside files are in ")), qPrintable(run.out));

    if (path.startsWith(QStringLiteral("aside:"))) {
        const QString aside = setAsideDir();
        QVERIFY2(!aside.isEmpty(), "expected exactly one set-aside folder");
        QVERIFY(QFileInfo(aside).fileName().contains(QRegularExpression(QStringLiteral("^set-aside-\\d{8}-\\d{6}$"))));
        path = aside + QLatin1Char('/') + path.mid(6);
    }

    struct stat st;
    const bool exists = ::lstat(enc(path).constData(), &st) == 0;
    if (kind == QStringLiteral("absent")) {
        QVERIFY2(!exists, qPrintable(path));
        return;
    }
    QVERIFY2(exists, qPrintable(path));
    if (kind == QStringLiteral("link")) {
        QVERIFY2(S_ISLNK(st.st_mode), qPrintable(path));
        QByteArray target(4096, '\0');
        const ssize_t n = ::readlink(enc(path).constData(), target.data(), target.size());
        QVERIFY(n > 0);
        target.truncate(int(n));
        QCOMPARE(target, expected);
        return;
    }
    QVERIFY2(S_ISREG(st.st_mode), qPrintable(path));
    QCOMPARE(readFile(path), expected);
    QCOMPARE(int(st.st_mode & 07777), mode);
    // No temporary file of the atomic write is left behind.
    const QStringList leftovers = QDir(QFileInfo(path).path()).entryList({QStringLiteral(".*.restore-*")}, QDir::AllEntries | QDir::Hidden | QDir::System);
    QVERIFY2(leftovers.isEmpty(), qPrintable(leftovers.join(QLatin1Char(' '))));
}

void RestoreTest::secondRunChangesNothing()
{
    const Run first = runRestore({});
    QCOMPARE(first.exitCode, 0);
    const QMap<QString, QString> afterFirst = snapshot(QStringLiteral("/etc"));
    const QMap<QString, QString> backupAfterFirst = snapshot(backupRoot);

    const Run second = runRestore({});
    QVERIFY2(second.exitCode == 0, qPrintable(second.err));
    QVERIFY2(second.out.contains(QStringLiteral("0 restored, 0 set aside, 6 unchanged.")), qPrintable(second.out));
    QCOMPARE(snapshot(QStringLiteral("/etc")), afterFirst);
    QCOMPARE(snapshot(backupRoot), backupAfterFirst); // no second set-aside folder
}

void RestoreTest::dryRun()
{
    const auto before = std::make_tuple(snapshot(modprobeDir), snapshot(xorgDir), snapshot(backupRoot), snapshot(m_outside));
    const Run run = runRestore({QStringLiteral("--dry-run")});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(std::make_tuple(snapshot(modprobeDir), snapshot(xorgDir), snapshot(backupRoot), snapshot(m_outside)), before);

    const QStringList expectedLines = {
        QStringLiteral("would restore: /etc/modprobe.d/nouveau.conf (content changed)"),
        QStringLiteral("would recreate: /etc/modprobe.d/blacklist-nvidia.conf (missing)"),
        QStringLiteral("would restore: /etc/modprobe.d/i915.conf (type changed)"),
        QStringLiteral("would restore: /etc/X11/xorg.conf.d/10-keyboard.conf (mode changed)"),
        QStringLiteral("would restore: /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf (content changed)"),
        QStringLiteral("would recreate: /etc/X11/xorg.conf.d/40-libinput.conf (missing)"),
    };
    for (const QString &line : expectedLines) {
        QVERIFY2(run.out.contains(line + QLatin1Char('\n')), qPrintable(QStringLiteral("missing \"%1\" in:\n%2").arg(line, run.out)));
    }
    for (const QString &extra : {QStringLiteral("/etc/modprobe.d/nvidia-extra.conf"),
                                 QStringLiteral("/etc/X11/xorg.conf.d/30-extra.conf"),
                                 QStringLiteral("/etc/X11/xorg.conf.d/extra-dir"),
                                 QStringLiteral("/etc/X11/xorg.conf.d/50-link.conf")}) {
        const QRegularExpression line(
            QStringLiteral("^would set aside: %1 -> /usr/share/vela-admin-video-driver/set-aside-\\d{8}-\\d{6}/").arg(QRegularExpression::escape(extra)),
            QRegularExpression::MultilineOption);
        QVERIFY2(line.match(run.out).hasMatch(), qPrintable(extra + QStringLiteral(" in:\n") + run.out));
    }
    const QRegularExpressionMatch summary =
        QRegularExpression(QStringLiteral("^Dry run, nothing was changed: .*$"), QRegularExpression::MultilineOption).match(run.out);
    QVERIFY(summary.hasMatch());
    // 6 entries of the backup differ; 4 current versions are kept and 4 extra entries moved.
    QCOMPARE(summary.captured(0), QStringLiteral("Dry run, nothing was changed: 6 restored, 8 set aside, 0 unchanged."));
}

void RestoreTest::missingBackup_data()
{
    QTest::addColumn<QString>("setup");
    QTest::newRow("backup folder empty") << QStringLiteral("empty");
    QTest::newRow("backup folder holds only set-aside folders") << QStringLiteral("only-aside");
    QTest::newRow("backup subfolders are symlinks") << QStringLiteral("symlinks");
}

void RestoreTest::missingBackup()
{
    QFETCH(QString, setup);
    QVERIFY(QDir(backupRoot + QStringLiteral("/modprobe.d")).removeRecursively());
    QVERIFY(QDir(backupRoot + QStringLiteral("/xorg.conf.d")).removeRecursively());
    if (setup == QStringLiteral("only-aside")) {
        QVERIFY(QDir().mkpath(backupRoot + QStringLiteral("/set-aside-20240101-000000/modprobe.d")));
    } else if (setup == QStringLiteral("symlinks")) {
        // A symlinked backup could make the command read (and set aside into) anywhere.
        QVERIFY(QDir().mkpath(m_outside + QStringLiteral("/fake/modprobe.d")));
        QCOMPARE(::symlink(enc(m_outside + QStringLiteral("/fake/modprobe.d")).constData(), enc(backupRoot + QStringLiteral("/modprobe.d")).constData()), 0);
        QCOMPARE(::symlink(enc(m_outside + QStringLiteral("/fake/modprobe.d")).constData(), enc(backupRoot + QStringLiteral("/xorg.conf.d")).constData()), 0);
    }
    const auto before = std::make_tuple(snapshot(modprobeDir), snapshot(xorgDir), snapshot(backupRoot));

    for (const QStringList &args : {QStringList(), QStringList{QStringLiteral("--dry-run")}}) {
        const Run run = runRestore(args);
        QCOMPARE(run.exitCode, 3);
        QVERIFY2(run.err.contains(QStringLiteral("no backup found in /usr/share/vela-admin-video-driver")), qPrintable(run.err));
        QVERIFY2(run.out.isEmpty(), qPrintable(run.out));
        QCOMPARE(std::make_tuple(snapshot(modprobeDir), snapshot(xorgDir), snapshot(backupRoot)), before);
    }
}

void RestoreTest::nonRoot_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("restore") << QStringList();
    QTest::newRow("dry run") << QStringList{QStringLiteral("--dry-run")};
}

void RestoreTest::nonRoot()
{
    QFETCH(QStringList, args);
    const auto before = std::make_tuple(snapshot(modprobeDir), snapshot(xorgDir), snapshot(backupRoot));
    const Run run = runRestore(args, true);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(QStringLiteral("must be run as root")), qPrintable(run.err));
    QCOMPARE(std::make_tuple(snapshot(modprobeDir), snapshot(xorgDir), snapshot(backupRoot)), before);
}

// A backup file over 16 MiB is no configuration file: it is left where it is, every other step
// is still done, and the exit status 4 says that something failed. One of exactly 16 MiB is
// restored.
void RestoreTest::oversizedBackupFile_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("16 MiB") << qint64(16 * 1024 * 1024) << 0;
    QTest::newRow("16 MiB and 1 byte") << qint64(16 * 1024 * 1024 + 1) << 4;
}

void RestoreTest::oversizedBackupFile()
{
    QFETCH(qint64, size);
    QFETCH(int, exitCode);
    const QString backupFile = backupRoot + QStringLiteral("/modprobe.d/huge.conf");
    const QString liveFile = modprobeDir + QStringLiteral("/huge.conf");
    writeFile(backupFile, QByteArray(int(size), 'x'), 0644);
    const QByteArray nouveau = readFile(QFINDTESTDATA("fixtures/backup/modprobe.d/nouveau.conf"));

    const Run run = runRestore({});
    QCOMPARE(run.exitCode, exitCode);
    // The other changed files are put back either way.
    QCOMPARE(readFile(modprobeDir + QStringLiteral("/nouveau.conf")), nouveau);
    if (exitCode == 0) {
        QCOMPARE(QFileInfo(liveFile).size(), size);
        return;
    }
    QVERIFY(!QFileInfo::exists(liveFile));
    QCOMPARE(QFileInfo(backupFile).size(), size);
    QVERIFY2(run.err.contains(QStringLiteral("/usr/share/vela-admin-video-driver/modprobe.d/huge.conf is larger than 16777216 bytes")), qPrintable(run.err));
    QVERIFY2(run.err.endsWith(QStringLiteral("corvo-video-driver-restore: some steps failed, see the messages above\n")), qPrintable(run.err));
}

void RestoreTest::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("asNobody");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << false << 0 << QStringLiteral("  3  no backup found");
    QTest::newRow("help needs no root") << QStringList{QStringLiteral("--help")} << true << 0 << QStringLiteral("--dry-run");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--force")} << false << 1 << QStringLiteral("Unknown option 'force'");
    QTest::newRow("stray argument") << QStringList{QStringLiteral("/etc")} << false << 1 << QStringLiteral("unexpected argument: /etc");
    QTest::newRow("usage checked before root") << QStringList{QStringLiteral("--force")} << true << 1 << QStringLiteral("Unknown option 'force'");
}

void RestoreTest::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(bool, asNobody);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    const auto before = std::make_tuple(snapshot(modprobeDir), snapshot(xorgDir), snapshot(backupRoot));
    const Run run = runRestore(args, asNobody);
    QCOMPARE(run.exitCode, exitCode);
    const QString all = run.out + run.err;
    QVERIFY2(all.contains(output), qPrintable(all));
    QCOMPARE(std::make_tuple(snapshot(modprobeDir), snapshot(xorgDir), snapshot(backupRoot)), before);
}

VISIBLE_SKIP_GUILESS_MAIN(RestoreTest)

#include "restoretest.moc"
