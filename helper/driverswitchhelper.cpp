// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "driverswitchhelper.h"

#include "backuplayout.h"
#include "busconfig.h"
#include "helper_debug.h"
#include "helperlogic.h"
#include "packagemarks.h"
#include "systempaths.h"
// Header-only: the clients read the snippets back by the same rules.
#include "../lib/xorgsnippet.h"

#include <KAuth/HelperSupport>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTimer>

#include <qapt/backend.h>
#include <qapt/transaction.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
KAuth::ActionReply errorReply(const QString &text)
{
    KAuth::ActionReply reply = KAuth::ActionReply::HelperErrorReply();
    reply.setErrorDescription(text);
    return reply;
}

// A text argument: absent reads as empty; a value of any other type than text (a list, a
// number, bytes) makes *ok false, the clients never send one.
QString textArg(const QVariantMap &args, const QString &name, bool *ok)
{
    const QVariant value = args.value(name);
    if (!value.isValid()) {
        return QString();
    }
    if (value.userType() != QMetaType::QString) {
        *ok = false;
        return QString();
    }
    return value.toString();
}

// The text form of a scalar argument ("true"/"false" for a boolean); containers are refused.
QString scalarTextArg(const QVariantMap &args, const QString &name, bool *ok)
{
    const QVariant value = args.value(name);
    switch (value.userType()) {
    case QMetaType::UnknownType:
        return QString();
    case QMetaType::QString:
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toString();
    default:
        *ok = false;
        return QString();
    }
}

// Files the helper owns are replaced whole: the content goes to a temporary file in the same
// folder, which is renamed over the target only once everything is on disk. A full disk or a
// crash therefore leaves the previous file byte for byte as it was.
bool writeFileAtomically(const QString &path, const QByteArray &content, QString *error)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (file.write(content) != content.size()) {
        *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

struct ProgramRun {
    bool started = false;
    bool finished = false; // ended on its own within the limit, without crashing
    int exitCode = -1;
    QByteArray output;
};

// Starts a program by its absolute path, without a shell, and waits at most timeoutMs for it;
// a program still running then is killed.
ProgramRun runProgram(const QString &program, const QStringList &arguments, int timeoutMs)
{
    ProgramRun run;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), HelperPaths::childPath());
    process.setProcessEnvironment(env);
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start();
    if (!process.waitForStarted(timeoutMs)) {
        qCWarning(HELPER) << "Cannot start" << program << process.errorString();
        return run;
    }
    run.started = true;
    if (!process.waitForFinished(timeoutMs)) {
        qCWarning(HELPER) << program << "did not finish within" << timeoutMs << "ms; killing it";
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.finished = process.exitStatus() == QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.output = process.readAllStandardOutput();
    return run;
}

// A change without a backup to go back to is no change the helper makes.
QString backupFailed()
{
    return QStringLiteral("Failed to create backup directory; nothing was changed");
}
}

DriverSwitchHelper::DriverSwitchHelper(QObject *parent)
    : QObject(parent)
    , m_backend(new QApt::Backend(this))
    , m_updateGrubTimeoutMs(TimeLimits::updateGrubMs)
    , m_packageSilenceLimitMs(TimeLimits::packageSilenceMs)
{
}

DriverSwitchHelper::~DriverSwitchHelper() = default;

void DriverSwitchHelper::setUpdateGrubTimeoutMs(int ms)
{
    m_updateGrubTimeoutMs = ms;
}

void DriverSwitchHelper::setPackageSilenceLimitMs(int ms)
{
    m_packageSilenceLimitMs = ms;
}

KAuth::ActionReply DriverSwitchHelper::replace(const QVariantMap &args)
{
    if (args.isEmpty()) {
        return errorReply(QStringLiteral("Empty arguments!"));
    }
    bool ok = true;
    m_modelName = textArg(args, QStringLiteral("modelName"), &ok);
    m_busId = textArg(args, QStringLiteral("busId"), &ok);
    m_driver = textArg(args, QStringLiteral("driver"), &ok);
    const QVariant vendor = args.value(QStringLiteral("videoCardVendorId"));
    bool vendorOk = true;
    m_vendorId = vendor.isValid() ? vendor.toInt(&vendorOk) : 0;
    // The three texts land between double quotes of the X configuration: anything that could end
    // the quotes or the line is refused, as is a bus id the X server could not parse.
    if (!ok || !vendorOk || m_modelName.isEmpty() || m_busId.isEmpty() || m_driver.isEmpty() || !HelperLogic::isSafeConfigValue(m_modelName)
        || !HelperLogic::isSafeConfigValue(m_driver) || !HelperLogic::isValidBusId(m_busId)) {
        return errorReply(QStringLiteral("Error getting arguments."));
    }
    if (!HelperLogic::xorgDriverExists(m_driver, HelperPaths::xorgDriverDirs())) {
        return errorReply(QStringLiteral("The XOrg driver \"%1\" is not installed: no %1_drv.so in the XOrg driver folders.").arg(m_driver));
    }
    if (m_vendorId == -1) {
        qCWarning(HELPER) << "Unknown video card vendor type.";
    }

    if (!backupOnce()) {
        return errorReply(backupFailed());
    }

    m_xorgConfig.clear(); // every switch describes the whole configuration anew
    buildSnippet();
    if (!writeSnippet()) {
        return errorReply(QStringLiteral("XOrg configuration update error"));
    }
    alignTearingSnippets(m_driver);
    return KAuth::ActionReply::SuccessReply();
}

void DriverSwitchHelper::buildSnippet()
{
    m_xorgConfig += HelperLogic::buildXOrgSnippet(m_vendorId, m_modelName, m_driver, HelperLogic::xorgBusId(m_busId));
}

bool DriverSwitchHelper::writeSnippet()
{
    if (m_xorgConfig.isEmpty()) {
        qCCritical(HELPER) << "XOrg configuration content is empty. Aborting.";
        return false;
    }
    QDir().mkpath(HelperPaths::xorgConfDir());
    QString error;
    // Latin-1, characters outside it become "?".
    if (!writeFileAtomically(HelperPaths::xorgSnippet(), m_xorgConfig.toLatin1(), &error)) {
        qCCritical(HELPER).noquote() << QStringLiteral("Cannot create / edit ") + HelperPaths::xorgSnippet() + QStringLiteral(" file: ") + error;
        return false;
    }
    QFile oldSnippet(HelperPaths::oldXorgSnippet());
    if (QFileInfo::exists(oldSnippet.fileName()) || QFileInfo(oldSnippet.fileName()).isSymLink()) {
        if (!oldSnippet.remove()) {
            qCWarning(HELPER).noquote() << "Cannot remove:" << oldSnippet.fileName();
        }
    }
    return true;
}

namespace
{
QByteArray enc(const QString &path)
{
    return QFile::encodeName(path);
}

QString randomSuffix()
{
    return QString::number(QRandomGenerator::global()->generate64(), 36);
}

// Flushes everything written to the file system of the folder, so that a rename that follows
// never publishes a copy whose data is still only in memory.
void syncFileSystemOf(const QString &dir)
{
    const int fd = ::open(enc(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

// rename(2) of a symlink over `path`: readers see the old link or the new one.
bool replaceSymlink(const QString &path, const QString &target)
{
    const QString temporary = QFileInfo(path).path() + QLatin1Char('/') + BackupLayout::linkPrefix() + randomSuffix();
    if (::symlink(enc(target).constData(), enc(temporary).constData()) != 0) {
        return false;
    }
    if (::rename(enc(temporary).constData(), enc(path).constData()) != 0) {
        ::unlink(enc(temporary).constData());
        return false;
    }
    return true;
}

// Deletes a folder of the helper's own making, first renamed to a hidden name in one step so
// that it never shows half deleted under its real name.
void pruneFolder(const QString &root, const QString &name)
{
    const QString hidden = root + QLatin1Char('/') + BackupLayout::prunePrefix() + name + QLatin1Char('-') + randomSuffix();
    if (::rename(enc(root + QLatin1Char('/') + name).constData(), enc(hidden).constData()) == 0) {
        QDir(hidden).removeRecursively();
    }
}
}

bool DriverSwitchHelper::backupMarkExists() const
{
    // /run is root's alone and emptied at every boot: nobody else can make or block the mark.
    struct stat st;
    const QByteArray mark = enc(HelperPaths::backupMark());
    return ::lstat(mark.constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0;
}

void DriverSwitchHelper::createBackupMark()
{
    const QByteArray dir = enc(QFileInfo(HelperPaths::backupMark()).path());
    if (::mkdir(dir.constData(), 0755) != 0 && errno != EEXIST) {
        qCWarning(HELPER) << "Cannot create" << dir << std::strerror(errno);
        return;
    }
    struct stat st;
    if (::lstat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != 0 || (st.st_mode & 022)) {
        qCWarning(HELPER) << "Not using" << dir << "for the backup mark: not a folder only root can write";
        return;
    }
    const int fd = ::open(enc(HelperPaths::backupMark()).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        qCWarning(HELPER) << "Cannot create the backup mark" << HelperPaths::backupMark() << std::strerror(errno);
        return;
    }
    ::close(fd);
}

void DriverSwitchHelper::setBackupHookForTests(std::function<void()> afterGenerationRename)
{
    m_afterGenerationRename = std::move(afterGenerationRename);
}

bool DriverSwitchHelper::copyInto(const QString &staging)
{
    for (const BackupLayout::Item &item : BackupLayout::items()) {
        const QString target = staging + QLatin1Char('/') + item.name;
        struct stat st;
        if (::lstat(enc(item.livePath).constData(), &st) != 0) {
            if (item.folder) {
                QDir().mkpath(target); // nothing to keep, but the layout stays the same
            }
            continue;
        }
        // -a keeps modes, times, owners and symlinks; -T copies the folder itself to the name.
        const ProgramRun run = runProgram(HelperPaths::cpProgram(),
                                          {QStringLiteral("-a"), QStringLiteral("-T"), QStringLiteral("--"), item.livePath, target},
                                          TimeLimits::processMs);
        if (!run.finished || run.exitCode != 0) {
            qCWarning(HELPER) << "Cannot copy" << item.livePath << "into the backup";
            return false;
        }
    }
    return true;
}

// A fresh generation made of a complete copy: returns its name, or an empty text.
QString DriverSwitchHelper::publishGeneration(const QString &root, const std::function<bool(const QString &)> &fill, const QDateTime &time)
{
    const QString staging = root + QLatin1Char('/') + BackupLayout::stagingPrefix() + randomSuffix();
    if (::mkdir(enc(staging).constData(), 0755) != 0) {
        return QString();
    }
    if (!fill(staging)) {
        QDir(staging).removeRecursively();
        return QString();
    }
    syncFileSystemOf(staging);
    const QString base = BackupLayout::generationBaseName(time);
    for (int n = 1; n < 1000; ++n) {
        const QString name = n == 1 ? base : base + QStringLiteral("-%1").arg(n);
        struct stat st;
        if (::lstat(enc(root + QLatin1Char('/') + name).constData(), &st) == 0) {
            continue;
        }
        if (::rename(enc(staging).constData(), enc(root + QLatin1Char('/') + name).constData()) == 0) {
            syncFileSystemOf(root);
            return name;
        }
        break;
    }
    QDir(staging).removeRecursively();
    return QString();
}

bool DriverSwitchHelper::backup()
{
    const QString root = HelperPaths::backupDir();
    if (!QDir().mkpath(root) || !QFileInfo(root).isDir() || QFileInfo(root).isSymLink()) {
        qCWarning(HELPER) << "The backup folder" << root << "is not a folder";
        return false;
    }
    // Copies a crash left half made, folders half pruned and links never renamed into place are
    // the helper's own and useless.
    for (const QString &name : QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const QString path = root + QLatin1Char('/') + name;
        if (name.startsWith(BackupLayout::stagingPrefix()) || name.startsWith(BackupLayout::prunePrefix())) {
            QDir(path).removeRecursively();
        } else if (name.startsWith(BackupLayout::linkPrefix())) {
            QFile::remove(path);
        }
    }

    // A backup of the older single-copy layout (real folders at the top) becomes a generation
    // of its own, dated by its folder, before the top names turn into links to the newest.
    for (const BackupLayout::Item &item : BackupLayout::items()) {
        if (!item.folder) {
            continue;
        }
        const QString top = root + QLatin1Char('/') + item.name;
        struct stat st;
        if (::lstat(enc(top).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            continue;
        }
        const QString name = publishGeneration(
            root,
            [&](const QString &staging) {
                for (const BackupLayout::Item &other : BackupLayout::items()) {
                    const QString from = root + QLatin1Char('/') + other.name;
                    struct stat os;
                    if (!other.folder || ::lstat(enc(from).constData(), &os) != 0 || !S_ISDIR(os.st_mode)) {
                        continue;
                    }
                    const ProgramRun run =
                        runProgram(HelperPaths::cpProgram(),
                                   {QStringLiteral("-a"), QStringLiteral("-T"), QStringLiteral("--"), from, staging + QLatin1Char('/') + other.name},
                                   TimeLimits::processMs);
                    if (!run.finished || run.exitCode != 0) {
                        return false;
                    }
                }
                return true;
            },
            QDateTime::fromSecsSinceEpoch(st.st_mtime, Qt::UTC));
        if (name.isEmpty()) {
            qCWarning(HELPER) << "Cannot keep the backup of the older layout as a generation";
            return false;
        }
        // Its copy is a generation now; the top folders give way to the links.
        for (const BackupLayout::Item &other : BackupLayout::items()) {
            struct stat os;
            const QString from = root + QLatin1Char('/') + other.name;
            if (other.folder && ::lstat(enc(from).constData(), &os) == 0 && S_ISDIR(os.st_mode)) {
                pruneFolder(root, other.name);
            }
        }
        break;
    }

    const QString name = publishGeneration(
        root,
        [this](const QString &staging) {
            return copyInto(staging);
        },
        QDateTime::currentDateTimeUtc());
    if (name.isEmpty()) {
        return false;
    }
    if (m_afterGenerationRename) {
        m_afterGenerationRename();
    }
    if (!replaceSymlink(root + QLatin1Char('/') + BackupLayout::latestLink(), name)) {
        qCWarning(HELPER) << "Cannot point" << BackupLayout::latestLink() << "at the new backup" << name;
    }
    for (const BackupLayout::Item &item : BackupLayout::items()) {
        const QString top = root + QLatin1Char('/') + item.name;
        const QString target = BackupLayout::latestLink() + QLatin1Char('/') + item.name;
        struct stat st;
        if (item.folder && (::lstat(enc(top).constData(), &st) != 0 || S_ISLNK(st.st_mode))) {
            replaceSymlink(top, target);
        }
    }

    const QStringList all = BackupLayout::generations(root);
    for (int i = 0; i + BackupLayout::keptGenerations < all.size(); ++i) {
        if (all.at(i) != name) {
            pruneFolder(root, all.at(i));
        }
    }
    return true;
}

bool DriverSwitchHelper::backupOnce()
{
    if (backupMarkExists()) {
        return true;
    }
    if (!backup()) {
        qCWarning(HELPER) << "Failed to create backup directory";
        return false;
    }
    createBackupMark();
    return true;
}

KAuth::ActionReply DriverSwitchHelper::acceleration(const QVariantMap &args)
{
    if (args.isEmpty()) {
        return errorReply(QStringLiteral("acceleration change: Empty arguments!"));
    }
    // The file is bytes in whatever encoding its author used: the clients send it as bytes.
    // A text is taken as UTF-8, which only ever matches a file in that encoding.
    const QVariant value = args.value(QStringLiteral("grub_content"));
    QByteArray content;
    if (value.userType() == QMetaType::QByteArray) {
        content = value.toByteArray();
    } else if (value.userType() == QMetaType::QString) {
        content = value.toString().toUtf8();
    }
    if (content.isEmpty()) {
        return errorReply(QStringLiteral("acceleration change: grub content empty"));
    }
    // update-grub sources this file as root: only the kernel parameters of the default command
    // line may change.
    QFile current(HelperPaths::grubDefaults());
    if (!current.open(QIODevice::ReadOnly)) {
        return errorReply(QStringLiteral("acceleration change: %1").arg(current.errorString()));
    }
    const QByteArray previous = current.readAll();
    current.close();
    const QString reason = HelperLogic::checkGrubContent(previous, content);
    if (!reason.isEmpty()) {
        return errorReply(QStringLiteral("acceleration change: %1").arg(reason));
    }
    if (!backupOnce()) {
        return errorReply(QStringLiteral("acceleration change: ") + backupFailed());
    }
    QString error;
    if (!writeFileAtomically(HelperPaths::grubDefaults(), content, &error)) {
        return errorReply(QStringLiteral("acceleration change: %1").arg(error));
    }

    const ProgramRun run = runProgram(HelperPaths::updateGrubProgram(), {}, m_updateGrubTimeoutMs);
    QString failure;
    if (!run.started) {
        failure = QStringLiteral("update-grub could not be started");
    } else if (!run.finished) {
        failure = QStringLiteral("update-grub did not finish within %1 seconds").arg(m_updateGrubTimeoutMs / 1000);
    } else if (run.exitCode != 0) {
        failure = QStringLiteral("update-grub failed with exit code %1").arg(run.exitCode);
    }
    if (failure.isEmpty()) {
        return KAuth::ActionReply::SuccessReply();
    }
    qCWarning(HELPER) << "update-grub failed with code" << run.exitCode;
    // A defaults file that update-grub could not take must not stay for the kernel packages'
    // own update-grub runs to trip over: the previous one goes back.
    if (!writeFileAtomically(HelperPaths::grubDefaults(), previous, &error)) {
        qCCritical(HELPER) << "Cannot put the previous" << HelperPaths::grubDefaults() << "back:" << error;
        return errorReply(QStringLiteral("acceleration change: %1; the previous boot loader defaults could not be put back: %2").arg(failure, error));
    }
    return errorReply(QStringLiteral("acceleration change: %1; the previous boot loader defaults were put back").arg(failure));
}

KAuth::ActionReply DriverSwitchHelper::tearing(const QVariantMap &args)
{
    bool ok = true;
    const QString vendor = textArg(args, QStringLiteral("vendor"), &ok);
    if (!ok || (vendor != QLatin1String("amd") && vendor != QLatin1String("intel"))) {
        return errorReply(QStringLiteral("Did not receive proper GPU vendor"));
    }
    const QString driverName = textArg(args, QStringLiteral("driverName"), &ok);
    const QString tearFree = scalarTextArg(args, QStringLiteral("shouldEnable"), &ok);
    if (!ok || !HelperLogic::isSafeConfigValue(driverName) || !HelperLogic::isSafeConfigValue(tearFree)) {
        return errorReply(QStringLiteral("The driver name or the TearFree value holds characters an XOrg configuration cannot take"));
    }
    if (driverName.isEmpty()) {
        return errorReply(QStringLiteral("No XOrg driver name was given for the tearing configuration"));
    }
    if (!HelperLogic::xorgDriverExists(driverName, HelperPaths::xorgDriverDirs())) {
        return errorReply(QStringLiteral("The XOrg driver \"%1\" is not installed: no %1_drv.so in the XOrg driver folders.").arg(driverName));
    }
    // The tearing snippet sorts before the switch snippet, and the X server builds its screen
    // on the first Device section it reads: a different driver here would undo the switch.
    const QString switched = switchSnippetDriver();
    if (!switched.isEmpty() && switched != driverName) {
        return errorReply(QStringLiteral("The tearing configuration must name the XOrg driver \"%1\" that the driver switch configured, not \"%2\".")
                              .arg(switched, driverName));
    }
    if (!backupOnce()) {
        return errorReply(backupFailed());
    }
    QDir().mkpath(HelperPaths::xorgConfDir());
    QString error;
    if (!writeFileAtomically(HelperPaths::tearingFile(vendor), HelperLogic::buildTearingConfig(driverName, tearFree).toUtf8(), &error)) {
        qCWarning(HELPER) << "Cannot write" << HelperPaths::tearingFile(vendor) << error;
        return errorReply(QStringLiteral("Cannot write to XOrg config file"));
    }
    return KAuth::ActionReply::SuccessReply();
}

QString DriverSwitchHelper::switchSnippetDriver() const
{
    QFile snippet(HelperPaths::xorgSnippet());
    if (!snippet.open(QIODevice::ReadOnly)) {
        return QString();
    }
    return XOrgSnippet::deviceDriver(snippet.read(64 * 1024));
}

void DriverSwitchHelper::alignTearingSnippets(const QString &driver)
{
    // A tearing snippet written for the driver used before the switch keeps its TearFree value
    // and names the newly chosen driver, so that the X server still starts with the switch's.
    for (const QString &vendor : HelperPaths::tearingVendors()) {
        const QString path = HelperPaths::tearingFile(vendor);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray text = file.read(64 * 1024);
        file.close();
        if (XOrgSnippet::deviceDriver(text) == driver) {
            continue;
        }
        QString tearFree = XOrgSnippet::tearFreeValue(text);
        if (!HelperLogic::isSafeConfigValue(tearFree) || tearFree.isEmpty()) {
            tearFree = QStringLiteral("false");
        }
        QString error;
        if (!writeFileAtomically(path, HelperLogic::buildTearingConfig(driver, tearFree).toUtf8(), &error)) {
            qCWarning(HELPER) << "Cannot update the tearing configuration" << path << "for the new driver:" << error;
        }
    }
}

KAuth::ActionReply DriverSwitchHelper::install(const QVariantMap &args)
{
    const QStringList names = args.value(QStringLiteral("drivers")).toStringList();
    if (names.isEmpty()) {
        return errorReply(QStringLiteral("Didn't receive any drivers for installation"));
    }
    return changePackages(names, PackageMode::Install);
}

KAuth::ActionReply DriverSwitchHelper::remove(const QVariantMap &args)
{
    const QStringList names = args.value(QStringLiteral("drivers")).toStringList();
    if (names.isEmpty()) {
        return errorReply(QStringLiteral("Didn't receive any drivers for removal"));
    }
    return changePackages(names, PackageMode::Remove);
}

QApt::Transaction *DriverSwitchHelper::commitInstructions(const QVariantMap &instructions)
{
    // What QApt's own commit does, with instructions of the helper's making.
    QDBusMessage call = QDBusMessage::createMethodCall(BusNames::packageWorkerService(),
                                                       BusNames::packageWorkerPath(),
                                                       BusNames::packageWorkerInterface(),
                                                       QStringLiteral("commitChanges"));
    call << instructions;
    const QDBusMessage answer = QDBusConnection::systemBus().call(call, QDBus::Block, TimeLimits::packageWorkerCallMs);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) {
        qCWarning(HELPER) << "The package worker did not take the transaction:" << answer.errorMessage();
        return nullptr;
    }
    return new QApt::Transaction(answer.arguments().constFirst().toString());
}

KAuth::ActionReply DriverSwitchHelper::changePackages(const QStringList &names, PackageMode mode)
{
    if (!m_backend->init()) {
        const QString message = m_backend->initErrorMessage();
        qCWarning(HELPER) << "Cannot open the package database:" << message;
        return errorReply(message.isEmpty() ? QStringLiteral("Cannot open the package database") : message);
    }
    const QString unmarked = PackageMarks::mark(m_backend, names, mode == PackageMode::Remove);
    if (!unmarked.isEmpty()) {
        return errorReply(unmarked);
    }
    // Taken once the request is known to be one the helper carries out: a refused one does not
    // use up the backup of the boot.
    if (!backupOnce()) {
        return errorReply(backupFailed());
    }

    QApt::Transaction *transaction = nullptr;
    const QStringList keepOut = mode == PackageMode::Install ? PackageMarks::alternativesToKeepOut(m_backend) : QStringList();
    const QVariantMap instructions = keepOut.isEmpty() ? QVariantMap() : PackageMarks::instructions(m_backend, keepOut);
    if (instructions.isEmpty()) {
        transaction = m_backend->commitChanges();
    } else {
        qCInfo(HELPER) << "Holding back" << keepOut << "which the package worker would otherwise install for an alternative the request meets";
        transaction = commitInstructions(instructions);
    }
    // Without the package service on the system bus there is no transaction, and no signal
    // would ever end the wait. QApt then takes the bus's error text for the transaction's id,
    // so only an object path counts as one.
    if (!transaction || !transaction->transactionId().startsWith(QLatin1Char('/'))) {
        if (transaction) {
            transaction->deleteLater();
        }
        return errorReply(QStringLiteral("Cannot start the package transaction: the package service did not answer"));
    }
    QEventLoop loop;
    bool done = false;
    QApt::ExitStatus exitStatus = QApt::ExitFailed;
    connect(transaction, &QApt::Transaction::progressChanged, this, [](int percent) {
        KAuth::HelperSupport::progressStep(percent);
    });
    connect(transaction, &QApt::Transaction::finished, &loop, [&](QApt::ExitStatus status) {
        exitStatus = status;
        done = true;
        loop.exit(0);
    });
    // Without authorisation the worker reports an error and never finishes: stop waiting then.
    connect(transaction, &QApt::Transaction::errorOccurred, &loop, [&](QApt::ErrorCode) {
        done = true;
        loop.exit(0);
    });

    // Any bus client can ask KAuth to stop, and KAuth keeps a request that arrived while the
    // helper was idle for the next action: a request already pending now is not this
    // action's. A stop only ever asks the worker to cancel this transaction; the worker does so
    // as long as dpkg has not started, and otherwise the transaction runs to its end.
    const bool staleStop = KAuth::HelperSupport::isStopped();
    if (staleStop) {
        qCWarning(HELPER) << "Ignoring a stop request that arrived before this action";
    }
    bool stopRequested = false;

    // The wait is bounded: the worker leaving the bus, or saying nothing for far longer than
    // any honest step takes (a DKMS build prints nothing for minutes), ends it with an error
    // instead of a helper that answers "busy" until someone kills it.
    bool workerGone = false;
    bool workerSilent = false;
    QDBusServiceWatcher workerWatch(BusNames::packageWorkerService(), QDBusConnection::systemBus(), QDBusServiceWatcher::WatchForUnregistration);
    connect(&workerWatch, &QDBusServiceWatcher::serviceUnregistered, &loop, [&]() {
        workerGone = true;
        loop.exit(0);
    });
    QElapsedTimer sinceLastWord;
    sinceLastWord.start();
    const auto heard = [&sinceLastWord]() {
        sinceLastWord.restart();
    };
    connect(transaction, &QApt::Transaction::statusChanged, &loop, heard);
    connect(transaction, &QApt::Transaction::progressChanged, &loop, heard);
    connect(transaction, &QApt::Transaction::statusDetailsChanged, &loop, heard);
    connect(transaction, &QApt::Transaction::downloadProgressChanged, &loop, heard);
    connect(transaction, &QApt::Transaction::cancellableChanged, &loop, heard);

    QTimer watch;
    watch.setInterval(qMin(1000, m_packageSilenceLimitMs));
    connect(&watch, &QTimer::timeout, this, [&]() {
        if (sinceLastWord.elapsed() > m_packageSilenceLimitMs) {
            workerSilent = true;
            loop.exit(0);
            return;
        }
        if (staleStop || stopRequested || !KAuth::HelperSupport::isStopped()) {
            return;
        }
        stopRequested = true;
        if (transaction->isCancellable()) {
            qCWarning(HELPER) << "Stop requested: asking the package worker to cancel the transaction";
            transaction->cancel();
        } else {
            qCWarning(HELPER) << "Stop requested while the transaction can no longer be cancelled; it runs to its end";
        }
    });

    transaction->run();
    watch.start();
    if (!QDBusConnection::systemBus().interface()->isServiceRegistered(BusNames::packageWorkerService())) {
        workerGone = true;
    }
    if (!done && !workerGone) {
        loop.exec();
    }
    watch.stop();

    if (!done && (workerGone || workerSilent)) {
        transaction->cancel(); // in case the worker is still there and merely stuck
        transaction->deleteLater();
        if (workerGone) {
            qCWarning(HELPER) << "The package worker left the bus during the transaction";
            return errorReply(QStringLiteral("The package service quit before the transaction finished; check the package state with apt"));
        }
        qCWarning(HELPER) << "The package worker sent nothing for" << m_packageSilenceLimitMs << "ms";
        return errorReply(
            QStringLiteral("The package service sent no word for %1 seconds; stopped waiting for the transaction").arg(m_packageSilenceLimitMs / 1000));
    }

    const int error = transaction->error();
    const QString errorString = transaction->errorString();
    const bool cancelled = exitStatus == QApt::ExitCancelled || transaction->isCancelled();
    transaction->deleteLater();

    if (cancelled) {
        return errorReply(QStringLiteral("Package transaction cancelled before dpkg started; nothing was changed"));
    }
    if (error != QApt::Success) {
        return errorReply(errorString.isEmpty() ? QStringLiteral("Package transaction failed (error %1)").arg(error) : errorString);
    }
    if (!done || exitStatus != QApt::ExitSuccess) {
        return errorReply(QStringLiteral("Package transaction failed (exit status %1)").arg(int(exitStatus)));
    }
    KAuth::ActionReply reply = KAuth::ActionReply::SuccessReply();
    if (stopRequested) {
        qCWarning(HELPER) << "The stop request came after dpkg had started; the transaction finished";
        reply.addData(QStringLiteral("stop"), QStringLiteral("The stop request came after dpkg had started; the transaction finished"));
    }
    return reply;
}
