// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class IHelperRunner;

// The i915 GuC/HuC firmware mode, written as its number after "i915.enable_guc=". The kernel
// reads the number as a bit mask: bit 0 enables GuC submission, bit 1 HuC firmware loading.
enum class GucMode : int {
    Disabled = 0, // neither
    SubmissionOnly = 1, // GuC submission
    LoadFirmwareOnly = 2, // HuC firmware loading only
    FullGucHuc = 3, // GuC submission and HuC firmware loading
};
Q_DECLARE_METATYPE(GucMode)

// The translated label of a mode, as the settings page offers it.
QString gucModeLabel(GucMode mode);

// Reads and changes the i915 options that govern Intel hardware video acceleration on the
// default kernel command line of the boot loader defaults file. Reading needs no rights; a
// change sends the whole new file text to the privileged helper, which stores it and updates
// the boot loader. Nothing is cached: every call reads the file afresh.
class IntelVideoConfigurator : public QObject
{
    Q_OBJECT
public:
    // Writes through KAuth.
    explicit IntelVideoConfigurator(QObject *parent = nullptr);
    // Writes through the given runner, which must outlive this object.
    explicit IntelVideoConfigurator(IHelperRunner *runner, QObject *parent = nullptr);
    ~IntelVideoConfigurator() override;

    GucMode gucMode() const;
    bool fbcIsEnable() const;
    bool isHardwareAccelerationEnabled() const;
    // Why the boot loader defaults cannot be read (missing, unreadable), as a translated
    // message; empty when they can. The readers above then answer as for an empty file.
    QString readProblem() const;
    // One name for every required entry none of whose alternatives is installed, in the order
    // of requiredPackages(): the first alternative the archive knows, or all alternatives
    // joined by " or " when it knows none (as for every entry when the package database
    // cannot be opened).
    QStringList missingPackages() const;

    // Each returns an empty text on success, else a translated message.
    QString setGucMode(GucMode mode);
    QString setFbcMode(bool enabled);
    QString setHardwareAccelerationEnabled(bool enabled);

    // Fixed names.
    static QString commandLineKey();
    static QString gucOption();
    static QString fbcOption();
    // Each entry lists alternatives; any one installed satisfies it.
    static QList<QStringList> requiredPackages();

    // Pure editing of a defaults file text. Only active lines count: a line whose first
    // non-blank text is the key. Commented-out lines are neither read nor rewritten.

    // The options of the first active command line, split at single spaces, empty parts
    // dropped; empty when there is no such line.
    static QStringList getOptionsList(const QString &content);
    // The value of the first "option=value" entry: the text between the first "=" and the next
    // one (or the end); empty when the option is not there.
    static QString optionValue(const QStringList &options, const QString &option);
    // The mode a value text stands for; 0 for anything but a decimal number from 0 to 3.
    static GucMode gucModeFromValue(const QString &value);
    // The text with every entry of the option removed and "option=value" appended, on every
    // active command line. Empty (a refusal) when there is no active command line or one holds
    // an escaped quote.
    static QString modifyKernelOption(const QString &content, const QString &option, const QString &value);
    // The text with every entry of the options removed on every active command line. Empty
    // (a refusal) under the same conditions as modifyKernelOption.
    static QString removeKernelOptions(const QString &content, const QStringList &options);

private:
    QString readFile() const;
    // Empty on success, else the translated message with the helper's reason.
    QString writeFile(const QString &content);
    QString getKernelOptionValue(const QString &option) const;
    QString setKernelOption(const QString &option, const QString &value);

    std::unique_ptr<IHelperRunner> m_ownRunner;
    IHelperRunner *m_runner = nullptr;
};
