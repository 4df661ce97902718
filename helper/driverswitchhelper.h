// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <KAuth/ActionReply>

#include <functional>

class QDateTime;

namespace QApt
{
class Backend;
class Transaction;
}

// The root side of every privileged change: KAuth calls the slot named after the action.
class DriverSwitchHelper : public QObject
{
    Q_OBJECT
public:
    explicit DriverSwitchHelper(QObject *parent = nullptr);
    ~DriverSwitchHelper() override;

    // Tests only: how long update-grub may run before it counts as failed.
    void setUpdateGrubTimeoutMs(int ms);
    // Tests only: how long the package worker may stay silent before the wait gives up.
    void setPackageSilenceLimitMs(int ms);
    // Tests only: runs between publishing a new backup generation and pointing "latest" at it.
    void setBackupHookForTests(std::function<void()> afterGenerationRename);

public Q_SLOTS:
    KAuth::ActionReply replace(const QVariantMap &args);
    KAuth::ActionReply install(const QVariantMap &args);
    KAuth::ActionReply remove(const QVariantMap &args);
    KAuth::ActionReply acceleration(const QVariantMap &args);
    KAuth::ActionReply tearing(const QVariantMap &args);

private:
    enum class PackageMode { Install = 0, Remove = 1 };

    bool backupMarkExists() const;
    void createBackupMark();
    bool copyInto(const QString &staging);
    QString publishGeneration(const QString &root, const std::function<bool(const QString &)> &fill, const QDateTime &time);
    bool backup();
    // Takes the backup of this boot unless it exists; false when it was needed and failed.
    bool backupOnce();
    void buildSnippet();
    bool writeSnippet();
    // The driver the switch snippet names; empty when there is no snippet or it names none.
    QString switchSnippetDriver() const;
    // Makes every existing tearing snippet name the driver just switched to.
    void alignTearingSnippets(const QString &driver);
    KAuth::ActionReply changePackages(const QStringList &names, PackageMode mode);
    // Hands the worker a transaction of the helper's own instructions; null when it refused.
    QApt::Transaction *commitInstructions(const QVariantMap &instructions);

    QString m_driver;
    QString m_modelName;
    QString m_busId;
    QApt::Backend *m_backend;
    QString m_xorgConfig;
    qint32 m_vendorId = -1;

    int m_updateGrubTimeoutMs;
    int m_packageSilenceLimitMs;
    std::function<void()> m_afterGenerationRename;
};
