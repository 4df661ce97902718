// Placeholder bodies; see gpuinfo.h.
#include "gpuinfo.h"
#include "device.h"

GpuInfo::GpuInfo(QWidget *parent)
    : QDialog(parent)
{
}

void GpuInfo::updateInfo(const Device &)
{
}

QString GpuInfo::currentRenderer()
{
    return QString();
}
