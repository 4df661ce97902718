#include "driverswitchhelper.h"

#include "helper_debug.h"
#include "helperlogic.h"
#include "systempaths.h"
#include "busconfig.h"
#include "packagemarks.h"
// Header-only: the clients read the snippets back by the same rules.
#include "../lib/xorgsnippet.h"

#include <KAuth/HelperSupport>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QScopedPointer>
#include <QTimer>

#include <qapt/backend.h>
#include <qapt/transaction.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
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

QString effectiveLoginName()
{
    const struct passwd *entry = ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(::geteuid());
}
}

DriverSwitchHelper::DriverSwitchHelper(QObject *parent)
    : QObject(parent)
    , m_backend(new QApt::Backend(this))
    , m_updateGrubTimeoutMs(TimeLimits::updateGrubMs)
{
}

DriverSwitchHelper::~DriverSwitchHelper() = default;

void DriverSwitchHelper::setUpdateGrubTimeoutMs(int ms)
{
    m_updateGrubTimeoutMs = ms;
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
    if (!ok || !vendorOk || m_modelName.isEmpty() || m_busId.isEmpty() || m_driver.isEmpty()
        || !HelperLogic::isSafeConfigValue(m_modelName) || !HelperLogic::isSafeConfigValue(m_driver)
        || !HelperLogic::isValidBusId(m_busId)) {
        return errorReply(QStringLiteral("Error getting arguments."));
    }
    if (!HelperLogic::xorgDriverExists(m_driver, HelperPaths::xorgDriverDirs())) {
        return errorReply(QStringLiteral("The XOrg driver \"%1\" is not installed: no %1_drv.so in the XOrg driver folders.").arg(m_driver));
    }
    if (m_vendorId == -1) {
        qCWarning(HELPER) << "Unknown video card vendor type.";
    }

    backupOnce();

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

bool DriverSwitchHelper::createBackupMark()
{
    const QByteArray mark = QFile::encodeName(HelperPaths::backupMarkPrefix() + effectiveLoginName() + HelperPaths::backupMarkSuffix());
    struct stat st;
    if (::lstat(mark.constData(), &st) == 0) {
        // Anyone can create files in /tmp: only a mark root made itself says a backup was taken.
        // The helper makes it empty and with one name; a hard link to some other root file is
        // not it.
        if (S_ISREG(st.st_mode) && st.st_uid == 0 && st.st_nlink == 1 && st.st_size == 0) {
            return false;
        }
        qCWarning(HELPER) << "Ignoring a backup mark not created by root:" << mark;
        if (::unlink(mark.constData()) != 0) {
            qCWarning(HELPER) << "Cannot remove the foreign backup mark:" << std::strerror(errno);
            return false;
        }
    }
    const int fd = ::open(mark.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        qCWarning(HELPER) << "Cannot create the backup mark" << mark << std::strerror(errno);
        return false;
    }
    ::close(fd);
    return true;
}

bool DriverSwitchHelper::backup()
{
    // The copies are made in a fresh folder beside the backup folder and swapped in only when
    // both succeeded, so a failed copy never leaves a half backup behind.
    const QString target = HelperPaths::backupDir();
    const QString staging = target + QStringLiteral(".new");
    const QString previous = target + QStringLiteral(".old");
    QDir(staging).removeRecursively();
    QDir(previous).removeRecursively();
    if (!QDir().mkpath(staging)) {
        return false;
    }
    const QList<QPair<QString, QString>> copies = {
        {HelperPaths::modprobeDir(), staging + QStringLiteral("/modprobe.d")},
        {HelperPaths::xorgConfDir(), staging + QStringLiteral("/xorg.conf.d")},
    };
    for (const auto &copy : copies) {
        if (!QFileInfo(copy.first).isDir()) {
            QDir().mkpath(copy.second); // nothing to keep, but the layout stays the same
            continue;
        }
        // -a keeps modes, times, owners and symlinks; -T copies the folder itself to the name.
        const ProgramRun run = runProgram(HelperPaths::cpProgram(),
                                          {QStringLiteral("-a"), QStringLiteral("-T"), QStringLiteral("--"), copy.first, copy.second},
                                          TimeLimits::processMs);
        if (!run.finished || run.exitCode != 0) {
            QDir(staging).removeRecursively();
            return false;
        }
    }
    if (QFileInfo::exists(target) && !QDir().rename(target, previous)) {
        QDir(staging).removeRecursively();
        return false;
    }
    if (!QDir().rename(staging, target)) {
        QDir().rename(previous, target);
        return false;
    }
    // Only the two copies are the helper's to replace. Anything else in the backup folder (the
    // restore command sets files aside there) is carried over; should that fail, the previous
    // folder stays where it is rather than being deleted with it.
    bool carriedOver = true;
    const QStringList others = QDir(previous).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QString &name : others) {
        if (name == QLatin1String("modprobe.d") || name == QLatin1String("xorg.conf.d")) {
            continue;
        }
        if (!QDir().rename(previous + QLatin1Char('/') + name, target + QLatin1Char('/') + name)) {
            qCWarning(HELPER) << "Cannot carry over" << name << "into the new backup; the previous backup is kept in" << previous;
            carriedOver = false;
        }
    }
    if (carriedOver) {
        QDir(previous).removeRecursively();
    }
    return true;
}

void DriverSwitchHelper::backupOnce()
{
    if (createBackupMark() && !backup()) {
        qCWarning(HELPER) << "Failed to create backup directory";
    }
}

KAuth::ActionReply DriverSwitchHelper::acceleration(const QVariantMap &args)
{
    if (args.isEmpty()) {
        return errorReply(QStringLiteral("acceleration change: Empty arguments!"));
    }
    bool ok = true;
    const QString content = textArg(args, QStringLiteral("grub_content"), &ok);
    if (!ok || content.isEmpty()) {
        return errorReply(QStringLiteral("acceleration change: grub content empty"));
    }
    // update-grub sources this file as root: only the kernel command line may change, and only
    // to a plain quoted value.
    QFile current(HelperPaths::grubDefaults());
    if (!current.open(QIODevice::ReadOnly)) {
        return errorReply(QStringLiteral("acceleration change: %1").arg(current.errorString()));
    }
    const QString reason = HelperLogic::checkGrubContent(QString::fromUtf8(current.readAll()), content);
    current.close();
    if (!reason.isEmpty()) {
        return errorReply(QStringLiteral("acceleration change: %1").arg(reason));
    }
    QString error;
    if (!writeFileAtomically(HelperPaths::grubDefaults(), content.toUtf8(), &error)) {
        return errorReply(QStringLiteral("acceleration change: %1").arg(error));
    }

    const ProgramRun run = runProgram(HelperPaths::updateGrubProgram(), {}, m_updateGrubTimeoutMs);
    if (!run.started) {
        qCWarning(HELPER) << "update-grub failed with code" << run.exitCode;
        return errorReply(QStringLiteral("acceleration change: update-grub could not be started"));
    }
    if (!run.finished) {
        qCWarning(HELPER) << "update-grub failed with code" << run.exitCode;
        return errorReply(QStringLiteral("acceleration change: update-grub did not finish within %1 seconds").arg(m_updateGrubTimeoutMs / 1000));
    }
    if (run.exitCode != 0) {
        qCWarning(HELPER) << "update-grub failed with code" << run.exitCode;
        return errorReply(QStringLiteral("acceleration change: update-grub failed with exit code %1").arg(run.exitCode));
    }
    return KAuth::ActionReply::SuccessReply();
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

KAuth::ActionReply DriverSwitchHelper::changePackages(const QStringList &names, PackageMode mode)
{
    backupOnce();

    if (!m_backend->init()) {
        const QString message = m_backend->initErrorMessage();
        qCWarning(HELPER) << "Cannot open the package database:" << message;
        return errorReply(message.isEmpty() ? QStringLiteral("Cannot open the package database") : message);
    }
    const QString unmarked = PackageMarks::mark(m_backend, names, mode == PackageMode::Remove);
    if (!unmarked.isEmpty()) {
        return errorReply(unmarked);
    }

    QApt::Transaction *transaction = m_backend->commitChanges();
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
    m_waitCancelled = false;
    transaction->run();

    const ProgramRun fuser = runProgram(HelperPaths::fuserProgram(), {HelperPaths::aptListsLock()}, TimeLimits::processMs);
    const QStringList lockHolders = HelperLogic::lockHolderPids(fuser.output);

    QScopedPointer<QTimer> watch(new QTimer);
    watch->setInterval(1000);
    connect(watch.data(), &QTimer::timeout, this, [this, &loop, lockHolders]() {
        timeChecker(&loop, lockHolders);
    });
    watch->start();
    if (!done) {
        loop.exec();
    }
    watch->stop();
    watch.reset();

    const int error = transaction->error();
    const QString errorString = transaction->errorString();
    transaction->deleteLater();

    if (m_waitCancelled) {
        return errorReply(QStringLiteral("Package transaction cancelled"));
    }
    if (error != QApt::Success) {
        return errorReply(errorString.isEmpty() ? QStringLiteral("Package transaction failed (error %1)").arg(error) : errorString);
    }
    if (!done || exitStatus != QApt::ExitSuccess) {
        return errorReply(QStringLiteral("Package transaction failed (exit status %1)").arg(int(exitStatus)));
    }
    return KAuth::ActionReply::SuccessReply();
}

void DriverSwitchHelper::timeChecker(QEventLoop *loop, QStringList pids)
{
    if (!KAuth::HelperSupport::isStopped()) {
        return;
    }
    // Only processes that held the lock when the transaction started and still hold it now are
    // the transaction's own; anything else may have reused a pid meanwhile.
    const ProgramRun fuser = runProgram(HelperPaths::fuserProgram(), {HelperPaths::aptListsLock()}, TimeLimits::processMs);
    const QList<qint64> victims = HelperLogic::pidsToKill(pids, HelperLogic::lockHolderPids(fuser.output), ::getpid());
    for (const qint64 pid : victims) {
        qCWarning(HELPER) << "Stop requested: killing APT lock holder" << pid;
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
    if (!victims.isEmpty()) {
        m_waitCancelled = true;
        loop->exit(0);
    }
}
