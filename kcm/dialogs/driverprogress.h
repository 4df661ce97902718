#pragma once

// Placeholder: the interface of the job progress dialog, with trivial bodies, so that the main
// window builds before the real dialog lands.

#include <KAuth/Action>
#include <QDialog>

class KJob;
namespace KAuth
{
class ExecuteJob;
}

class DriverProgress : public QDialog
{
    Q_OBJECT
public:
    DriverProgress(KAuth::ExecuteJob *job, QWidget *parent);

    static void rebootRequest();

Q_SIGNALS:
    void finished(bool success);

private Q_SLOTS:
    void jobProgressChanged(KJob *job, unsigned long newPercent);
    void jobStatusChanged(KAuth::Action::AuthStatus status);
    void processResult(KJob *job);

private:
    KAuth::ExecuteJob *m_job;
};
