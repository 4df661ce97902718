// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device.h"
#include "driverpackagedialogs.h"

#include <KCModule>

#include <QStringList>

#include <functional>
#include <memory>

template<typename T>
class QFutureWatcher;
class IHelperRunner;
class Ui_MainModule;

// The control module's window: pick an adapter, its kernel module and (as an expert) its X
// driver, and apply the choice through the privileged helper.
class MainModule : public KCModule
{
    Q_OBJECT
public:
    // Everything the window reaches outside itself. The host gets system(); tests swap in
    // their own adapters, helper, prompt and lookups.
    struct Services {
        std::function<QList<Device>()> probe; // runs on a worker thread
        std::shared_ptr<IHelperRunner> helper;
        std::function<void(const QString &note)> rebootPrompt; // note: extra text for the question, may be empty
        std::function<QString(const QString &path)> moduleVersion;
        std::function<QString()> renderer;
        QStringList xorgDriverDirs;
        PackageDialogServices packageDialogs;

        static Services system();
    };

    MainModule(QWidget *parent, const QList<QVariant> &args);
    MainModule(QWidget *parent, const QList<QVariant> &args, Services services);
    ~MainModule() override;

    QList<Device> getGpus() const;
    Device *getCurrentGpu();
    void setGuiEnabled(bool enabled) const;

    void activeCardDetected();
    void updateKernelModuleBox();
    void updateXOrgDriverBox();
    QString getError(int code) const;

    void save() override;
    void load() override;

public Q_SLOTS:
    void initUi();
    void gpuChangedHandler(const QString &gpuName);
    void kernelModuleChangedHandler(const QString &moduleName);
    void showGpuInfo();
    void showModuleInfo();
    void showDriverInstaller();
    void showDriverRemover();
    void showAdvancedSettings();

private:
    void xorgDriverChosen(int row);
    void showAdapterDetails();
    QString versionText(const Module &module) const;

    Ui_MainModule *ui;
    Services m_services;
    QList<Device> gpus;
    qint32 m_currentGpuIndex = 0;
    QFutureWatcher<QList<Device>> *initWatcher = nullptr;
};
