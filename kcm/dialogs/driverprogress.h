// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDialog>
#include <QHash>
#include <QPointer>
#include <QString>

#include <KAuth/Action>

#include <functional>

class KJob;
class QProgressBar;
class QVBoxLayout;
class RebootRequester;

namespace KAuth
{
class ExecuteJob;
}

// Follows one running privileged helper job in a small modal window: shows its percentage,
// closes itself when the job ends and reports the outcome through finished(bool).
//
// The job is started from the event loop, not from the constructor, so that the caller has
// connected finished(bool) and entered exec() before any result can arrive (a job may fail
// inside start() already). The job deletes itself after its result.
class DriverProgress : public QDialog
{
    Q_OBJECT
public:
    explicit DriverProgress(KAuth::ExecuteJob *job, QWidget *parent = nullptr);
    ~DriverProgress() override;

    // A caller that sends the request again when it missed the starting helper
    // (HelperClient::missedStartingHelper) asks for no error box in that case, and reads
    // missedStartingHelper() after exec().
    void setQuietWhenHelperStarting(bool quiet);
    bool missedStartingHelper() const;

    // Returns at once when the job has already ended (its result came before the dialog was
    // shown), so that the dialog can never wait for a result that has passed.
    int exec() override;

    // Asks whether to reboot now and, on yes, asks the desktop to reboot; reports a request
    // that nobody took. A note (what was written, when it is not obvious) heads the question.
    static void rebootRequest(const QString &note = QString());

    // The same with the question and the reboot back-ends given. Returns true when a reboot
    // was requested successfully.
    using RebootQuestion = std::function<bool()>;
    static bool rebootRequest(const RebootQuestion &askUser, RebootRequester &requester);
    // The question box; true when the administrator answered Yes.
    static bool askForReboot(const QString &note = QString());
    static QString rebootQuestionText(const QString &note);
    // The text of the box shown when no reboot could be requested.
    static QString rebootFailedText();

Q_SIGNALS:
    void finished(bool success);

private Q_SLOTS:
    void jobProgressChanged(KJob *job, unsigned long newPercent);
    void jobStatusChanged(KAuth::Action::AuthStatus status);
    void processResult(KJob *job);

private:
    void setupForm();
    void startJob();

    QPointer<KAuth::ExecuteJob> m_job;
    QHash<KAuth::Action::AuthStatus, QString> m_statusTexts;
    QVBoxLayout *m_layout = nullptr;
    QProgressBar *m_progressBar = nullptr;
    bool m_started = false;
    bool m_resultHandled = false;
    bool m_quietWhenHelperStarting = false;
    bool m_missedStartingHelper = false;
};
