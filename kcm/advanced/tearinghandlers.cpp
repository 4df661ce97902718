// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "tearinghandlers.h"
#include "busconfig.h"
#include "helperclient.h"
#include "kcm_debug.h"
#include "systempaths.h"
#include "xorgsnippet.h"

#include <KLocalizedString>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

namespace
{
QByteArray readAll(const QString &path, bool *ok)
{
    QFile file(path);
    *ok = file.open(QIODevice::ReadOnly);
    return *ok ? file.readAll() : QByteArray();
}

// Replaces the file whole through a temporary file in its folder: a failure at any point leaves
// the old content as it was. An existing file keeps its mode.
bool writeWhole(const QString &path, const QByteArray &content)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(KCM_VIDEODRIVER) << "Cannot open" << path << "for writing:" << file.errorString();
        return false;
    }
    if (file.write(content) != content.size()) {
        qCWarning(KCM_VIDEODRIVER) << "Cannot write" << path << file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qCWarning(KCM_VIDEODRIVER) << "Cannot write" << path << file.errorString();
        return false;
    }
    return true;
}

QString inHome(const QString &home, const QString &relative)
{
    return home + QLatin1Char('/') + relative;
}
}

TearingHandler::~TearingHandler() = default;

bool TearingHandler::loadCurrentState()
{
    return stateQuery()();
}

QString TearingHandler::unavailableReason() const
{
    return QString();
}

QString TearingHandler::note() const
{
    return QString();
}

// --- X server ---------------------------------------------------------------------------------

XorgTearingHandler::XorgTearingHandler(const Device &device, const QString &driverName, IHelperRunner *runner)
    : m_device(device)
    , m_vendorName(device.videoCardVendorId() == VideoCardVendorId::Amd ? QStringLiteral("amd") : QStringLiteral("intel"))
    , m_driverName(driverName)
    , m_runner(runner)
{
    if (!m_runner) {
        m_ownRunner = std::make_unique<KAuthHelperRunner>();
        m_runner = m_ownRunner.get();
    }
}

XorgTearingHandler::~XorgTearingHandler() = default;

bool XorgTearingHandler::applyTearing(bool enable)
{
    if (m_driverName.isEmpty()) {
        return false;
    }
    const HelperResult result = m_runner->send(HelperRequests::tearing(m_device, m_driverName, enable));
    if (!result.ok) {
        qCDebug(KCM_VIDEODRIVER).noquote().nospace() << "D-Bus helper error: " << result.jobErrorString;
        qCDebug(KCM_VIDEODRIVER).noquote().nospace() << "Error code: " << result.errorCode;
        qCDebug(KCM_VIDEODRIVER).noquote().nospace() << "Error text: " << result.errorText;
    }
    return result.ok;
}

std::function<bool()> XorgTearingHandler::stateQuery() const
{
    const QString path = SystemPaths::xorgTearingSnippet(m_vendorName);
    return [path] {
        if (!QFileInfo::exists(path)) {
            return false;
        }
        bool ok = false;
        const QByteArray text = readAll(path, &ok);
        if (!ok) {
            qCWarning(KCM_VIDEODRIVER) << "Failed to open Xorg config file for reading";
            return false;
        }
        return XOrgSnippet::tearFreeValue(text) == QLatin1String("true");
    };
}

QString XorgTearingHandler::unavailableReason() const
{
    if (m_driverName.isEmpty()) {
        return i18n("No installed X server driver matches the driver this adapter runs with, so the TearFree option cannot be set.");
    }
    return QString();
}

// --- NVIDIA -----------------------------------------------------------------------------------

NvidiaTearingHandler::NvidiaTearingHandler(const QString &home, const QString &program, int timeoutMs)
    : m_home(home)
    , m_program(program)
    , m_timeoutMs(timeoutMs)
{
}

NvidiaTearingHandler::NvidiaTearingHandler()
    : NvidiaTearingHandler(QDir::homePath(), SystemPaths::nvidiaSettings(), TimeLimits::processMs)
{
}

QString NvidiaTearingHandler::tweakFilePath() const
{
    return inHome(m_home, SystemPaths::nvidiaTweakFile());
}

QString NvidiaTearingHandler::profilePath() const
{
    return inHome(m_home, SystemPaths::userProfile());
}

QString NvidiaTearingHandler::getNvidiaCommand(bool enable) const
{
    return QStringLiteral("nvidia-settings --assign CurrentMetaMode=\"nvidia-auto-select +0+0 { ForceFullCompositionPipeline = %1 }\"")
        .arg(enable ? QStringLiteral("On") : QStringLiteral("Off"));
}

bool NvidiaTearingHandler::applyTearing(bool enable)
{
    const QString tweak = tweakFilePath();
    QDir().mkpath(QFileInfo(tweak).absolutePath());
    if (!writeWhole(tweak, getNvidiaCommand(enable).toLocal8Bit())) {
        qCWarning(KCM_VIDEODRIVER) << "Cannot create NVIDIA tweak command file";
        return false;
    }
    return addToUserProfile();
}

bool NvidiaTearingHandler::addToUserProfile()
{
    // A symbolic link (a profile kept in a dotfiles folder, say) stays a link: its target is
    // the file that changes.
    const QString link = profilePath();
    const QString profile = QFileInfo(link).canonicalFilePath();
    bool ok = false;
    const QByteArray text = profile.isEmpty() ? QByteArray() : readAll(profile, &ok);
    if (!ok) {
        qCWarning(KCM_VIDEODRIVER) << "Cannot read profile file";
        return false;
    }

    const QByteArray marker = "# This line is generated automatically";
    const QByteArray block = "\n" + marker + "\nsource " + QFile::encodeName(tweakFilePath()) + "\n";
    if (text.contains(block)) {
        return true;
    }

    QList<QByteArray> lines = text.split('\n');
    const QByteArray oldTweak = QFile::encodeName(inHome(m_home, SystemPaths::oldNvidiaTweakFile()));
    for (int i = lines.size() - 1; i >= 0; --i) {
        if (lines.at(i).contains("source") && lines.at(i).contains(oldTweak)) {
            lines.removeAt(i);
            if (i > 0 && lines.at(i - 1).contains(marker)) {
                lines.removeAt(i - 1);
            }
            break;
        }
    }

    QByteArray content;
    content.reserve(text.size() + block.size());
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            content += '\n';
        }
        content += lines.at(i);
    }
    content += block;
    if (!writeWhole(profile, content)) {
        qCWarning(KCM_VIDEODRIVER) << "Failed to write to profile file";
        return false;
    }

    const QString oldFile = inHome(m_home, SystemPaths::oldNvidiaTweakFile());
    if (QFileInfo::exists(oldFile) && !QFile::remove(oldFile)) {
        qCWarning(KCM_VIDEODRIVER) << "Failed to remove old tweak file";
    }
    return true;
}

std::function<bool()> NvidiaTearingHandler::stateQuery() const
{
    const QString program = m_program;
    const int timeoutMs = m_timeoutMs;
    return [program, timeoutMs] {
        QProcess process;
        process.start(program, {QStringLiteral("-q"), QStringLiteral("CurrentMetaMode")});
        process.waitForFinished(timeoutMs);
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(1000);
            return false;
        }
        if (process.error() == QProcess::FailedToStart) {
            return false;
        }
        if (process.exitStatus() == QProcess::CrashExit || process.exitCode() != 0) {
            qCWarning(KCM_VIDEODRIVER) << "NVIDIA: Cannot query nvidia-settings";
            return false;
        }
        return QString::fromLocal8Bit(process.readAllStandardOutput()).contains(QLatin1String("ForceFullCompositionPipeline=On"));
    };
}

QString NvidiaTearingHandler::unavailableReason() const
{
    if (QFileInfo(profilePath()).canonicalFilePath().isEmpty()) {
        return i18n("This setting is applied at login through ~/.profile, and this account has none.");
    }
    return QString();
}

// --- picom ------------------------------------------------------------------------------------

PicomTearingHandler::PicomTearingHandler(const QString &home, const QString &program)
    : m_home(home)
    , m_program(program)
{
}

PicomTearingHandler::PicomTearingHandler()
    : PicomTearingHandler(QDir::homePath(), SystemPaths::picom())
{
}

QByteArray PicomTearingHandler::settingsLines()
{
    return QByteArrayLiteral("backend = \"glx\";\nvsync = true;\nuse-damage = false;");
}

QString PicomTearingHandler::configFilePath() const
{
    return inHome(m_home, SystemPaths::picomSettingsFile());
}

QString PicomTearingHandler::availableConfigFilePath() const
{
    const QString current = configFilePath();
    if (QFileInfo::exists(current)) {
        return current;
    }
    const QString old = inHome(m_home, SystemPaths::oldPicomSettingsFile());
    return QFileInfo::exists(old) ? old : QString();
}

bool PicomTearingHandler::applyTearing(bool enable)
{
    // Only the settings: picom reads the file named by --config (or included from the user's
    // own picom.conf) and refuses a file that includes itself.
    const QString path = configFilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QByteArray content;
    if (enable) {
        content = settingsLines();
        content.append('\n');
    }
    if (!writeWhole(path, content)) {
        return false;
    }
    const QString old = inHome(m_home, SystemPaths::oldPicomSettingsFile());
    if (QFileInfo::exists(old) && !QFile::remove(old)) {
        qCWarning(KCM_VIDEODRIVER) << "Failed to remove old picom file";
    }
    return true;
}

std::function<bool()> PicomTearingHandler::stateQuery() const
{
    const QString path = availableConfigFilePath();
    return [path] {
        if (path.isEmpty()) {
            return false;
        }
        bool ok = false;
        const QByteArray text = readAll(path, &ok);
        return ok && text.contains(settingsLines());
    };
}

QString PicomTearingHandler::unavailableReason() const
{
    if (!QFileInfo(m_program).isExecutable()) {
        return i18n("picom is not installed.");
    }
    return QString();
}

QString PicomTearingHandler::note() const
{
    const bool plasma = qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QLatin1String("KDE"), Qt::CaseInsensitive)
        || qEnvironmentVariable("KDE_FULL_SESSION") == QLatin1String("true");
    if (plasma) {
        return i18n(
            "In a KDE Plasma session KWin is the compositor: picom takes effect only when your own session starts it "
            "with this file (%1).",
            configFilePath());
    }
    return i18n("picom reads this setting from %1 when your session starts it with that file.", configFilePath());
}
