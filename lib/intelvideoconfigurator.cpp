// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "intelvideoconfigurator.h"
#include "driverlib_debug.h"
#include "helperclient.h"
#include "systempaths.h"

#include <QApt/Backend>
#include <QApt/Package>
#include <apt-pkg/error.h>

#include <KLocalizedString>

#include <QFile>
#include <QRegularExpression>

#include <functional>

namespace
{
// An active command line: the key at the start of a line (after blanks), a quoted value on
// that same line. Escaped characters are taken in so that a "\"" cannot end the value early.
const QRegularExpression &activeLinePattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^[ \\t]*%1=\"((?:[^\"\\\\\\n]|\\\\.)*)\"").arg(QRegularExpression::escape(IntelVideoConfigurator::commandLineKey())),
        QRegularExpression::MultilineOption);
    return pattern;
}

// The kernel takes tabs between options as it takes blanks.
QStringList splitOptions(const QString &commandLine)
{
    static const QRegularExpression separators(QStringLiteral("[ \\t]+"));
    return commandLine.split(separators, Qt::SkipEmptyParts);
}

bool isEntryOf(const QString &entry, const QString &option)
{
    return entry.startsWith(option + QLatin1Char('='));
}

// Rewrites every active command line with the options that `edit` makes of the first one's.
// Empty when there is nothing to edit safely.
QString editCommandLines(const QString &content, const QString &what, const std::function<QStringList(QStringList)> &edit)
{
    QList<QRegularExpressionMatch> lines;
    auto it = activeLinePattern().globalMatch(content);
    while (it.hasNext()) {
        lines.append(it.next());
    }
    if (lines.isEmpty()) {
        qCWarning(DRIVERLIB) << "Line not found" << IntelVideoConfigurator::commandLineKey() << "- unable to change" << what;
        return QString();
    }
    for (const QRegularExpressionMatch &line : qAsConst(lines)) {
        if (line.captured(1).contains(QLatin1String("\\\""))) {
            qCWarning(DRIVERLIB) << "The kernel command line holds an escaped quote, refusing to change" << what;
            return QString();
        }
    }
    const QStringList newOptions = edit(IntelVideoConfigurator::getOptionsList(content));
    const QString newValue = newOptions.join(QLatin1Char(' '));
    // An entry that ended in a backslash before an escaped blank ("a\ b") would, as the last
    // one, escape the closing quote and leave the file with an open string.
    int trailingBackslashes = 0;
    while (trailingBackslashes < newValue.size() && newValue.at(newValue.size() - 1 - trailingBackslashes) == QLatin1Char('\\')) {
        ++trailingBackslashes;
    }
    if (trailingBackslashes % 2 != 0) {
        qCWarning(DRIVERLIB) << "The kernel command line would end in a backslash, refusing to change" << what;
        return QString();
    }

    QString result;
    result.reserve(content.size() + newValue.size());
    int copied = 0;
    for (const QRegularExpressionMatch &line : qAsConst(lines)) {
        result += content.midRef(copied, line.capturedStart(1) - copied);
        // A line that already holds these options keeps its own blanks and tabs, so that a
        // value already set is recognised as such.
        result += splitOptions(line.captured(1)) == newOptions ? line.captured(1) : newValue;
        copied = line.capturedEnd(1);
    }
    result += content.midRef(copied);
    return result;
}
}

QString gucModeLabel(GucMode mode)
{
    switch (mode) {
    case GucMode::Disabled:
        return i18n("Disabled");
    case GucMode::SubmissionOnly:
        return i18n("Submission Only");
    case GucMode::LoadFirmwareOnly:
        return i18n("Load Firmware Only");
    case GucMode::FullGucHuc:
        return i18n("Full GuC + HuC");
    }
    return QString();
}

IntelVideoConfigurator::IntelVideoConfigurator(QObject *parent)
    : IntelVideoConfigurator(nullptr, parent)
{
}

IntelVideoConfigurator::IntelVideoConfigurator(IHelperRunner *runner, QObject *parent)
    : QObject(parent)
    , m_runner(runner)
{
    qRegisterMetaType<GucMode>("GucMode");
    if (!m_runner) {
        m_ownRunner = std::make_unique<KAuthHelperRunner>();
        m_runner = m_ownRunner.get();
    }
}

IntelVideoConfigurator::~IntelVideoConfigurator() = default;

QString IntelVideoConfigurator::commandLineKey()
{
    return QStringLiteral("GRUB_CMDLINE_LINUX_DEFAULT");
}

QString IntelVideoConfigurator::gucOption()
{
    return QStringLiteral("i915.enable_guc");
}

QString IntelVideoConfigurator::fbcOption()
{
    return QStringLiteral("i915.enable_fbc");
}

QList<QStringList> IntelVideoConfigurator::requiredPackages()
{
    // Debian ships the i915 GuC/HuC firmware in firmware-misc-nonfree (there is no
    // linux-firmware package), and the media driver also as a non-free twin.
    return {{QStringLiteral("linux-firmware"), QStringLiteral("firmware-misc-nonfree")},
            {QStringLiteral("intel-microcode")},
            {QStringLiteral("intel-media-va-driver"), QStringLiteral("intel-media-va-driver-non-free")},
            {QStringLiteral("mesa-vulkan-drivers")},
            {QStringLiteral("mesa-vdpau-drivers")},
            {QStringLiteral("mesa-va-drivers")}};
}

QStringList IntelVideoConfigurator::getOptionsList(const QString &content)
{
    const QRegularExpressionMatch line = activeLinePattern().match(content);
    if (!line.hasMatch()) {
        qCWarning(DRIVERLIB) << "Line not found" << commandLineKey();
        return {};
    }
    return splitOptions(line.captured(1));
}

QString IntelVideoConfigurator::optionValue(const QStringList &options, const QString &option)
{
    for (const QString &entry : options) {
        if (isEntryOf(entry, option)) {
            return entry.section(QLatin1Char('='), 1, 1);
        }
    }
    return QString();
}

GucMode IntelVideoConfigurator::gucModeFromValue(const QString &value)
{
    bool ok = false;
    const int number = value.toInt(&ok, 10);
    if (!ok || number < int(GucMode::Disabled) || number > int(GucMode::FullGucHuc)) {
        return GucMode::Disabled;
    }
    return static_cast<GucMode>(number);
}

QString IntelVideoConfigurator::modifyKernelOption(const QString &content, const QString &option, const QString &value)
{
    return editCommandLines(content, option, [&](QStringList options) {
        options.erase(std::remove_if(options.begin(),
                                     options.end(),
                                     [&](const QString &entry) {
                                         return isEntryOf(entry, option);
                                     }),
                      options.end());
        options.append(QStringLiteral("%1=%2").arg(option, value));
        return options;
    });
}

QString IntelVideoConfigurator::removeKernelOptions(const QString &content, const QStringList &names)
{
    return editCommandLines(content, names.join(QStringLiteral(", ")), [&](QStringList options) {
        options.erase(std::remove_if(options.begin(),
                                     options.end(),
                                     [&](const QString &entry) {
                                         return std::any_of(names.begin(), names.end(), [&](const QString &name) {
                                             return isEntryOf(entry, name);
                                         });
                                     }),
                      options.end());
        return options;
    });
}

// The file is edited as bytes: it is read as Latin-1, which gives every byte one character of
// its own, and written back the same way, so a byte the edit does not touch (a UTF-8 or Latin-1
// letter in a comment or in GRUB_DISTRIBUTOR) goes back exactly as it was.
QString IntelVideoConfigurator::readFile() const
{
    QFile file(SystemPaths::grubDefaults());
    if (!file.open(QIODevice::ReadOnly)) {
        return QString();
    }
    return QString::fromLatin1(file.readAll());
}

QString IntelVideoConfigurator::writeFile(const QString &content)
{
    const HelperResult result = m_runner->send(HelperRequests::acceleration(content.toLatin1()));
    if (result.ok) {
        return QString();
    }
    qCWarning(DRIVERLIB) << "Writing the boot loader defaults failed:" << result.errorText;
    // The helper's own reason (a refused text, a failed boot loader update) tells the
    // administrator what to mend; without one the plain message must do.
    return result.errorText.isEmpty() ? i18n("Error writing to a file %1", SystemPaths::grubDefaults())
                                      : i18n("Error writing to a file %1: %2", SystemPaths::grubDefaults(), result.errorText);
}

QString IntelVideoConfigurator::readProblem() const
{
    QFile file(SystemPaths::grubDefaults());
    if (!file.open(QIODevice::ReadOnly)) {
        return i18n("File reading error %1", SystemPaths::grubDefaults());
    }
    return QString();
}

QString IntelVideoConfigurator::getKernelOptionValue(const QString &option) const
{
    const QString content = readFile();
    if (content.isEmpty()) {
        qCWarning(DRIVERLIB) << "File reading error" << SystemPaths::grubDefaults();
        return QString();
    }
    return optionValue(getOptionsList(content), option);
}

GucMode IntelVideoConfigurator::gucMode() const
{
    return gucModeFromValue(getKernelOptionValue(gucOption()));
}

bool IntelVideoConfigurator::fbcIsEnable() const
{
    return getKernelOptionValue(fbcOption()) == QLatin1String("1");
}

bool IntelVideoConfigurator::isHardwareAccelerationEnabled() const
{
    return gucMode() == GucMode::FullGucHuc && fbcIsEnable();
}

QStringList IntelVideoConfigurator::missingPackages() const
{
    // An entry no package of the archive stands for is named with all its alternatives.
    const auto unknownName = [](const QStringList &alternatives) {
        return alternatives.join(QStringLiteral(" or "));
    };
    QApt::Backend backend;
    // init() reads the cache afresh; no reload is needed after it.
    if (!backend.init()) {
        qCWarning(DRIVERLIB) << "The package database cannot be opened:" << backend.initErrorMessage();
        // APT keeps its errors process-wide; left pending they would fail every later opening.
        _error->Discard();
        QStringList all;
        for (const QStringList &alternatives : requiredPackages()) {
            all.append(unknownName(alternatives));
        }
        return all;
    }
    QStringList missing;
    for (const QStringList &alternatives : requiredPackages()) {
        QString firstKnown;
        bool satisfied = false;
        for (const QString &name : alternatives) {
            const QApt::Package *package = backend.package(name);
            if (!package) {
                continue;
            }
            if (package->isInstalled()) {
                satisfied = true;
                break;
            }
            if (firstKnown.isEmpty()) {
                firstKnown = name;
            }
        }
        if (!satisfied) {
            missing.append(firstKnown.isEmpty() ? unknownName(alternatives) : firstKnown);
        }
    }
    return missing;
}

QString IntelVideoConfigurator::setKernelOption(const QString &option, const QString &value)
{
    const QStringList missing = missingPackages();
    if (!missing.isEmpty()) {
        return i18n("The necessary packages for Intel hardware acceleration to work are missing: %1", missing.join(QLatin1Char('\n')));
    }
    const QString content = readFile();
    if (content.isEmpty()) {
        return i18n("File reading error %1", SystemPaths::grubDefaults());
    }
    const QString modified = modifyKernelOption(content, option, value);
    if (modified.isEmpty()) {
        return i18n("Error when modifying the kernel parameter %1", option);
    }
    if (modified == content) {
        return i18n("The %1 value is already set.", option);
    }
    return writeFile(modified);
}

QString IntelVideoConfigurator::setGucMode(GucMode mode)
{
    return setKernelOption(gucOption(), QString::number(int(mode)));
}

QString IntelVideoConfigurator::setFbcMode(bool enabled)
{
    return setKernelOption(fbcOption(), enabled ? QStringLiteral("1") : QStringLiteral("0"));
}

QString IntelVideoConfigurator::setHardwareAccelerationEnabled(bool enabled)
{
    const QStringList missing = missingPackages();
    if (!missing.isEmpty()) {
        return i18n("The necessary packages for Intel hardware acceleration to work are missing: %1", missing.join(QStringLiteral(", ")));
    }
    const QString content = readFile();
    if (content.isEmpty()) {
        return i18n("File reading error %1", SystemPaths::grubDefaults());
    }
    QString modified;
    if (enabled) {
        modified = modifyKernelOption(content, gucOption(), QString::number(int(GucMode::FullGucHuc)));
        if (modified.isEmpty()) {
            return i18n("Error when modifying the kernel parameter %1", gucOption());
        }
        modified = modifyKernelOption(modified, fbcOption(), QStringLiteral("1"));
        if (modified.isEmpty()) {
            return i18n("Error when modifying the kernel parameter %1", fbcOption());
        }
    } else {
        const QStringList options = {gucOption(), fbcOption()};
        modified = removeKernelOptions(content, options);
        if (modified.isEmpty()) {
            return i18n("Error when modifying the kernel parameter %1", options.join(QStringLiteral(", ")));
        }
    }
    return writeFile(modified);
}
