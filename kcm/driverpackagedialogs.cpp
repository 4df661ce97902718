// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "driverpackagedialogs.h"
#include "dialogs/driverprogress.h"
#include "helperclient.h"
#include "kcm_debug.h"
#include "nvidiadrivermodel.h"
#include "systempaths.h"
#include "ui_driverpackageops.h"

#include <KAuth/ExecuteJob>
#include <KLocalizedString>
#include <KMessageBox>

#include <QApplication>
#include <QApt/Backend>
#include <QApt/Package>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSysInfo>

namespace
{
// Reads the package cache and the driver package inputs under a busy cursor: on a full
// archive this is the one slow step of the dialogs.
bool loadPackages(QApt::Backend &backend, const PackageDialogServices &services, DriverPackages::Snapshot &snapshot, const char *dialog)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restore = qScopeGuard([] {
        QApplication::restoreOverrideCursor();
    });
    QElapsedTimer timer;
    timer.start();
    // init() reads the cache afresh; a reload right after it would read it twice.
    if (!backend.init()) {
        qCWarning(KCM_VIDEODRIVER) << "Cannot read the package cache:" << backend.initErrorMessage();
        return false;
    }
    const qint64 initMs = timer.restart();
    DriverPackages::LoadTimes times;
    snapshot = DriverPackages::load(backend, services.locations, &times);
    qCDebug(KCM_VIDEODRIVER).nospace() << dialog << ": package cache " << initMs << " ms, index scan " << times.indexScanMs << " ms, AppStream "
                                       << times.appStreamMs << " ms, id lists " << times.idListsMs << " ms, packages " << times.packagesMs << " ms";
    return true;
}

bool runWithProgress(const QString &shortName, const QVariantMap &args, QWidget *parent)
{
    for (int attempt = 1;; ++attempt) {
        if (attempt > 1) {
            HelperClient::pauseBeforeAttempt(attempt);
        }
        KAuth::ExecuteJob *job = HelperClient::makeAction(shortName, args).execute();
        DriverProgress progress(job, parent);
        progress.setQuietWhenHelperStarting(attempt < HelperClient::startAttempts);
        bool success = false;
        QObject::connect(&progress, &DriverProgress::finished, parent, [&success](bool ok) {
            success = ok;
        });
        progress.exec();
        // The job has ended on the helper's signal; its D-Bus call is answered right after.
        HelperClient::awaitHelperAnswers();
        if (!progress.missedStartingHelper()) {
            return success;
        }
    }
}

void prepareForm(QDialog *dialog, Ui_DriverPackageOps *ui)
{
    if (dialog->objectName().isEmpty()) {
        dialog->setObjectName(QStringLiteral("DriverPackageOps"));
    }
    ui->setupUi(dialog);
}
}

PackageDialogServices PackageDialogServices::system()
{
    PackageDialogServices services;
    services.locations = DriverPackages::systemLocations();
    services.dkmsSourceRoot = SystemPaths::dkmsSourceRoot();
    services.kernelRelease = QSysInfo::kernelVersion();
    services.signingKey = SystemPaths::dkmsSigningKey();
    services.secureBoot = [] {
        return SecureBoot::query();
    };
    services.runAction = &runWithProgress;
    services.rebootPrompt = [] {
        DriverProgress::rebootRequest();
    };
    services.showInformation = [](const QString &text, QWidget *parent) {
        KMessageBox::information(parent, text, QString());
    };
    services.showError = [](const QString &text, QWidget *parent) {
        KMessageBox::error(parent, text, QString());
    };
    return services;
}

// ---- installer ----

DriverInstaller::DriverInstaller(const QString &modalias, VideoCardVendorId vendor, QWidget *parent)
    : DriverInstaller(modalias, vendor, parent, PackageDialogServices::system())
{
}

DriverInstaller::DriverInstaller(const QString &modalias, VideoCardVendorId vendor, QWidget *parent, PackageDialogServices services)
    : QDialog(parent)
    , ui(new Ui_DriverPackageOps)
    , m_modalias(modalias)
    , m_vendor(vendor)
    , m_services(std::move(services))
    , m_backend(std::make_unique<QApt::Backend>())
{
    prepareForm(this, ui);
}

DriverInstaller::~DriverInstaller()
{
    delete ui;
}

int DriverInstaller::exec()
{
    QElapsedTimer timer;
    timer.start();
    if (!loadPackages(*m_backend, m_services, m_snapshot, "installer")) {
        KMessageBox::error(nullptr, i18n("The package database cannot be read: %1", m_backend->initErrorMessage()), QString());
        return 0;
    }
    m_notes.clear();
    if (m_vendor == Nvidia) {
        addDriversForNvidia();
    } else {
        addDriversForOtherVendors();
    }
    const QString scope = DriverPackages::missingComponentsNote(m_snapshot);
    if (!scope.isEmpty()) {
        m_notes.append(scope);
    }
    m_secureBoot = m_services.secureBoot ? m_services.secureBoot() : SecureBoot::State::NoTool;
    qCDebug(KCM_VIDEODRIVER) << "installer: filled in" << timer.elapsed() << "ms with" << ui->driverBox->count() << "choices";

    if (ui->driverBox->count() == 0) {
        QStringList text{i18n("No new compatible drivers detected")};
        text.append(m_notes);
        KMessageBox::error(nullptr, text.join(QStringLiteral("\n\n")), QString());
        return 0;
    }
    updateNotes();
    connect(ui->driverBox, qOverload<int>(&QComboBox::currentIndexChanged), this, &DriverInstaller::updateNotes);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &DriverInstaller::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &DriverInstaller::reject);
    return QDialog::exec();
}

void DriverInstaller::addDriversForNvidia()
{
    const DriverPackages::Catalogue catalogue = DriverPackages::nvidiaCatalogue(m_snapshot, m_modalias);
    m_notes.append(catalogue.notes);
    m_nvidiaModel = new NvidiaDriverModel(this);
    m_nvidiaModel->setDrivers(catalogue.drivers);
    m_nvidiaModel->sortNvidiaDriversByPriority();
    ui->driverBox->setModel(m_nvidiaModel);
}

void DriverInstaller::addDriversForOtherVendors()
{
    const QList<DriverPackages::Match> matches = DriverPackages::aliasMatches(m_snapshot, m_modalias);
    for (const DriverPackages::Match &match : matches) {
        if (!match.installed) {
            ui->driverBox->addItem(match.name, match.name);
        }
    }
}

void DriverInstaller::updateNotes()
{
    QStringList lines = m_notes;
    // The warning comes before anything is installed, for a choice that builds a module.
    const DriverPackages::PackageInfo *info = m_snapshot.find(currentChoice().name);
    if (m_secureBoot == SecureBoot::State::KeyNotEnrolled && info && DriverPackages::buildsWithDkms(*info)) {
        lines.append(SecureBoot::warningLine());
    }
    ui->noteLabel->setText(lines.join(QStringLiteral("\n")));
    ui->noteLabel->setVisible(!lines.isEmpty());
}

QStringList DriverInstaller::installSet(const QString &name, const QStringList &companions, QString *missing) const
{
    QStringList names{name};
    names.append(companions);
    bool dkms = false;
    for (const QString &n : std::as_const(names)) {
        const QApt::Package *package = m_backend->package(n);
        if (!package) {
            qCWarning(KCM_VIDEODRIVER) << "The package" << n << "is no longer in the package cache";
            if (missing) {
                *missing = n;
            }
            return {};
        }
        dkms = dkms || DriverPackages::buildsWithDkms(DriverPackages::packageInfo(*package, false));
    }
    if (dkms) {
        // Headers for the running kernel, or the module cannot be built for it.
        QList<DriverPackages::PackageInfo> looked;
        names.append(DriverPackages::kernelHeaders(m_services.kernelRelease, [&](const QString &header) -> const DriverPackages::PackageInfo * {
            const QApt::Package *package = m_backend->package(header);
            if (!package) {
                return nullptr;
            }
            looked.append(DriverPackages::packageInfo(*package, false));
            return &looked.last();
        }));
    }
    return names;
}

NvidiaDriver DriverInstaller::currentChoice() const
{
    if (m_nvidiaModel) {
        return m_nvidiaModel->drivers().value(ui->driverBox->currentIndex());
    }
    NvidiaDriver choice;
    choice.name = ui->driverBox->currentData(Qt::UserRole).toString();
    return choice;
}

void DriverInstaller::accept()
{
    const NvidiaDriver choice = currentChoice();
    const QString &name = choice.name;
    const QStringList &companions = choice.companions;
    QString missing;
    const QStringList names = name.isEmpty() ? QStringList() : installSet(name, companions, &missing);
    if (!names.isEmpty()) {
        m_dkmsSent = m_snapshot.find(name) && DriverPackages::buildsWithDkms(*m_snapshot.find(name));
        invokePackageHelper(HelperAction::install(), QStringLiteral("drivers"), names);
    } else if (!missing.isEmpty() && m_services.showError) {
        m_services.showError(
            i18n("The package %1 is no longer in the package database, so nothing was installed. Update the package lists and open this dialog again.",
                 missing),
            this);
    }
    done(QDialog::Accepted);
}

void DriverInstaller::invokePackageHelper(const QString &methodName, const QString &argName, const QStringList &packageNames)
{
    if (argName.isEmpty() || packageNames.isEmpty() || !m_services.runAction) {
        return;
    }
    const HelperRequest request = HelperRequests::install(packageNames);
    if (methodName != request.action || !request.arguments.contains(argName)) {
        return;
    }
    onDriverProgressFinished(m_services.runAction(request.action, request.arguments, this));
}

void DriverInstaller::onDriverProgressFinished(bool success)
{
    close();
    if (!success) {
        return;
    }
    if (m_dkmsSent && m_secureBoot == SecureBoot::State::KeyNotEnrolled && m_services.showInformation) {
        m_services.showInformation(SecureBoot::enrolmentSteps(m_services.signingKey), this);
    }
    if (m_services.rebootPrompt) {
        m_services.rebootPrompt();
    }
}

// ---- remover ----

DriverRemover::DriverRemover(const QString &modalias, const QString &modulePath, QWidget *parent)
    : DriverRemover(modalias, modulePath, parent, PackageDialogServices::system())
{
}

DriverRemover::DriverRemover(const QString &modalias, const QString &modulePath, QWidget *parent, PackageDialogServices services)
    : QDialog(parent)
    , ui(new Ui_DriverPackageOps)
    , m_modalias(modalias)
    , m_modulePath(modulePath)
    , m_services(std::move(services))
    , m_backend(std::make_unique<QApt::Backend>())
{
    prepareForm(this, ui);
}

DriverRemover::~DriverRemover()
{
    delete ui;
}

int DriverRemover::exec()
{
    DriverPackages::Snapshot snapshot;
    if (!loadPackages(*m_backend, m_services, snapshot, "remover")) {
        KMessageBox::error(nullptr, i18n("The package database cannot be read: %1", m_backend->initErrorMessage()), QString());
        return 0;
    }
    const QSet<QString> inUse = DriverPackages::packagesInUse(
        snapshot,
        m_modulePath,
        [this](const QString &path) {
            const QApt::Package *package = m_backend->packageForFile(path);
            return package ? QString(package->name()) : QString();
        },
        m_services.dkmsSourceRoot);
    qCDebug(KCM_VIDEODRIVER) << "remover: module" << m_modulePath << "belongs to" << inUse;
    for (const QString &name : DriverPackages::removalCandidates(snapshot, inUse)) {
        ui->driverBox->addItem(name);
    }
    ui->driverLabel->setText(i18n("Choose a driver to remove:"));
    setWindowTitle(i18n("Driver Removal"));
    if (ui->driverBox->count() == 0) {
        KMessageBox::error(nullptr, i18n("No installed and unused drivers detected"), QString());
        return 0;
    }
    ui->driverBox->model()->sort(0, Qt::AscendingOrder);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &DriverRemover::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &DriverRemover::reject);
    return QDialog::exec();
}

void DriverRemover::accept()
{
    const QApt::Package *package = m_backend->package(ui->driverBox->currentText());
    if (package) {
        invokePackageHelper(HelperAction::remove(), QStringLiteral("drivers"), {QString(package->name())});
    }
    done(QDialog::Accepted);
}

void DriverRemover::invokePackageHelper(const QString &methodName, const QString &argName, const QStringList &packageNames)
{
    if (argName.isEmpty() || packageNames.isEmpty() || !m_services.runAction) {
        return;
    }
    const HelperRequest request = HelperRequests::remove(packageNames);
    if (methodName != request.action || !request.arguments.contains(argName)) {
        return;
    }
    onDriverProgressFinished(m_services.runAction(request.action, request.arguments, this));
}

void DriverRemover::onDriverProgressFinished(bool success)
{
    close();
    if (success && m_services.rebootPrompt) {
        m_services.rebootPrompt();
    }
}
