// Placeholder bodies; see driverprogress.h.
#include "driverprogress.h"

DriverProgress::DriverProgress(KAuth::ExecuteJob *job, QWidget *parent)
    : QDialog(parent)
    , m_job(job)
{
}

void DriverProgress::rebootRequest()
{
}

void DriverProgress::jobProgressChanged(KJob *, unsigned long)
{
}

void DriverProgress::jobStatusChanged(KAuth::Action::AuthStatus)
{
}

void DriverProgress::processResult(KJob *)
{
}
