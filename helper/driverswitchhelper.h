#pragma once

#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <KAuth/ActionReply>

class QEventLoop;

namespace QApt
{
class Backend;
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

public Q_SLOTS:
    KAuth::ActionReply replace(const QVariantMap &args);
    KAuth::ActionReply install(const QVariantMap &args);
    KAuth::ActionReply remove(const QVariantMap &args);
    KAuth::ActionReply acceleration(const QVariantMap &args);
    KAuth::ActionReply tearing(const QVariantMap &args);

    // Polled once a second while a package transaction is awaited: on a stop request it kills
    // the APT lock holders of the transaction's start that still hold the lock, and ends the wait.
    void timeChecker(QEventLoop *loop, QStringList pids);

private:
    enum class PackageMode { Install = 0, Remove = 1 };

    bool createBackupMark();
    bool backup();
    void backupOnce();
    void buildSnippet();
    bool writeSnippet();
    // The driver the switch snippet names; empty when there is no snippet or it names none.
    QString switchSnippetDriver() const;
    // Makes every existing tearing snippet name the driver just switched to.
    void alignTearingSnippets(const QString &driver);
    KAuth::ActionReply changePackages(const QStringList &names, PackageMode mode);

    QString m_driver;
    QString m_modelName;
    QString m_busId;
    QApt::Backend *m_backend;
    QString m_xorgConfig;
    qint32 m_vendorId = -1;

    int m_updateGrubTimeoutMs;
    bool m_waitCancelled = false;
};
