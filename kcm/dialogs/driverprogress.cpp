// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "driverprogress.h"
#include "helperclient.h"
#include "kcmdialogs_debug.h"
#include "rebootrequester.h"

#include <KAuth/ExecuteJob>
#include <KLocalizedString>
#include <KMessageBox>

#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

DriverProgress::DriverProgress(KAuth::ExecuteJob *job, QWidget *parent)
    : QDialog(parent)
    , m_job(job)
{
    m_statusTexts.insert(KAuth::Action::DeniedStatus, QStringLiteral("Package processing action denied"));
    m_statusTexts.insert(KAuth::Action::ErrorStatus, QStringLiteral("Package processing aciton reported an error"));
    m_statusTexts.insert(KAuth::Action::InvalidStatus, QStringLiteral("Invalid action"));
    m_statusTexts.insert(KAuth::Action::UserCancelledStatus, QStringLiteral("User cancelled"));

    if (m_job) {
        connect(m_job, &KAuth::ExecuteJob::statusChanged, this, &DriverProgress::jobStatusChanged);
        connect(m_job, &KJob::percentChanged, this, &DriverProgress::jobProgressChanged);
        connect(m_job, &KJob::result, this, &DriverProgress::processResult);
    }

    setupForm();
    m_progressBar->setValue(0);

    // Started once the caller has connected to us and runs the event loop (normally exec()).
    QTimer::singleShot(0, this, &DriverProgress::startJob);
}

DriverProgress::~DriverProgress()
{
    // A job that never started would never delete itself.
    if (m_job && !m_started) {
        m_job->deleteLater();
    }
}

void DriverProgress::setQuietWhenHelperStarting(bool quiet)
{
    m_quietWhenHelperStarting = quiet;
}

bool DriverProgress::missedStartingHelper() const
{
    return m_missedStartingHelper;
}

int DriverProgress::exec()
{
    if (m_resultHandled) {
        return result();
    }
    return QDialog::exec();
}

void DriverProgress::setupForm()
{
    if (objectName().isEmpty()) {
        setObjectName(QStringLiteral("DriverProgress"));
    }
    resize(400, 43);
    m_layout = new QVBoxLayout(this);
    m_layout->setObjectName(QStringLiteral("verticalLayout"));
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setRange(0, 100);
    m_layout->addWidget(m_progressBar);
    setWindowTitle(i18n("Transaction progress"));
    QMetaObject::connectSlotsByName(this);
}

void DriverProgress::startJob()
{
    if (m_started) {
        return;
    }
    m_started = true;
    if (!m_job) {
        qCWarning(KCMDIALOGS) << "No privileged job to follow";
        close();
        if (!m_resultHandled) {
            m_resultHandled = true;
            Q_EMIT finished(false);
        }
        return;
    }
    m_job->start();
}

void DriverProgress::jobProgressChanged(KJob *job, unsigned long newPercent)
{
    Q_UNUSED(job)
    m_progressBar->setValue(static_cast<int>(newPercent));
}

void DriverProgress::jobStatusChanged(KAuth::Action::AuthStatus status)
{
    const auto it = m_statusTexts.constFind(status);
    if (it == m_statusTexts.constEnd()) {
        return;
    }
    qCWarning(KCMDIALOGS).noquote() << it.value();
    close();
}

void DriverProgress::processResult(KJob *job)
{
    if (m_resultHandled) {
        return;
    }
    m_resultHandled = true;

    if (job->errorString().isEmpty() && job->error() == 0) {
        close();
        Q_EMIT finished(true);
        return;
    }

    if (m_quietWhenHelperStarting && HelperClient::missedStartingHelper(qobject_cast<KAuth::ExecuteJob *>(job))) {
        m_missedStartingHelper = true;
        qCDebug(KCMDIALOGS) << "The helper was still starting; the caller sends the request again";
        close();
        Q_EMIT finished(false);
        return;
    }

    qCCritical(KCMDIALOGS, "Error code %s, text: \"%s\"!", QByteArray::number(job->error()).constData(), job->errorString().toLocal8Bit().constData());

    // A refused authorisation arrives without any text: name the error code instead.
    QString detail = HelperClient::errorText(qobject_cast<KAuth::ExecuteJob *>(job));
    if (detail.isEmpty()) {
        detail = job->errorText().isEmpty() ? job->errorString() : job->errorText();
    }
    if (detail.isEmpty()) {
        detail = i18n("Unknown error");
    }
    KMessageBox::error(nullptr, i18n("Transaction error: %1", detail), QString());

    close();
    Q_EMIT finished(false);
}

QString DriverProgress::rebootQuestionText(const QString &note)
{
    const QString question = i18n("For correct application, it is recommended to reboot the system.\nReboot now?");
    return note.isEmpty() ? question : note + QLatin1Char('\n') + question;
}

bool DriverProgress::askForReboot(const QString &note)
{
    const auto answer =
        QMessageBox::question(nullptr, i18n("Reboot system request"), rebootQuestionText(note), QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
    return answer == QMessageBox::Yes;
}

QString DriverProgress::rebootFailedText()
{
    return i18n("The system could not be asked to reboot. Please reboot it yourself to complete the change.");
}

bool DriverProgress::rebootRequest(const RebootQuestion &askUser, RebootRequester &requester)
{
    if (!askUser()) {
        return false;
    }
    if (requester.request()) {
        return true;
    }
    QMessageBox::warning(nullptr, i18n("Reboot system request"), rebootFailedText());
    return false;
}

void DriverProgress::rebootRequest(const QString &note)
{
    RebootRequester requester = RebootRequester::systemDefault();
    rebootRequest(
        [note] {
            return askForReboot(note);
        },
        requester);
}
