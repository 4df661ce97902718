// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device.h"
#include "driverpackagesource.h"
#include "nvidiadrivermodel.h"
#include "secureboot.h"

#include <QDialog>
#include <QVariantMap>

#include <functional>
#include <memory>

class Ui_DriverPackageOps;

namespace QApt
{
class Backend;
class Package;
using PackageList = QList<Package *>;
}

// What the installer and the remover reach outside themselves. system() gives the real
// machine; tests swap in fixture locations, a Secure Boot state and a recording helper.
struct PackageDialogServices {
    DriverPackages::Locations locations;
    QString dkmsSourceRoot;
    QString kernelRelease;
    QString signingKey;
    std::function<SecureBoot::State()> secureBoot;
    // Sends one helper action and follows it to its end (the progress dialog by default);
    // true when it succeeded.
    std::function<bool(const QString &shortName, const QVariantMap &args, QWidget *parent)> runAction;
    std::function<void()> rebootPrompt;
    std::function<void(const QString &text, QWidget *parent)> showInformation;
    std::function<void(const QString &text, QWidget *parent)> showError;

    static PackageDialogServices system();
};

// Installs one driver package that suits the adapter, with whatever must come in the same
// transaction (the driver of the open kernel modules, the kernel headers a DKMS build needs).
class DriverInstaller : public QDialog
{
    Q_OBJECT
public:
    DriverInstaller(const QString &modalias, VideoCardVendorId vendor, QWidget *parent);
    DriverInstaller(const QString &modalias, VideoCardVendorId vendor, QWidget *parent, PackageDialogServices services);
    ~DriverInstaller() override;

    int exec() override;
    void accept() override;

    // The names one install sends for the chosen package, in order; empty when the package or
    // one it needs is no longer in the cache, and then missing (when given) names it.
    QStringList installSet(const QString &name, const QStringList &companions, QString *missing = nullptr) const;

public Q_SLOTS:
    void invokePackageHelper(const QString &methodName, const QString &argName, const QStringList &packageNames);
    void onDriverProgressFinished(bool success);

private:
    void addDriversForNvidia();
    void addDriversForOtherVendors();
    void updateNotes();
    // The chosen package and the ones it needs in the same transaction.
    NvidiaDriver currentChoice() const;

    Ui_DriverPackageOps *ui;
    QString m_modalias;
    VideoCardVendorId m_vendor;
    PackageDialogServices m_services;
    std::unique_ptr<QApt::Backend> m_backend;
    DriverPackages::Snapshot m_snapshot;
    NvidiaDriverModel *m_nvidiaModel = nullptr;
    QStringList m_notes;
    SecureBoot::State m_secureBoot = SecureBoot::State::NoTool;
    bool m_dkmsSent = false;
};

// Removes one installed driver package that the adapter does not use.
class DriverRemover : public QDialog
{
    Q_OBJECT
public:
    DriverRemover(const QString &modalias, const QString &modulePath, QWidget *parent);
    DriverRemover(const QString &modalias, const QString &modulePath, QWidget *parent, PackageDialogServices services);
    ~DriverRemover() override;

    int exec() override;
    void accept() override;

public Q_SLOTS:
    void invokePackageHelper(const QString &methodName, const QString &argName, const QStringList &packageNames);
    void onDriverProgressFinished(bool success);

private:
    Ui_DriverPackageOps *ui;
    QString m_modalias;
    QString m_modulePath;
    PackageDialogServices m_services;
    std::unique_ptr<QApt::Backend> m_backend;
};
