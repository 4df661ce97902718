// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "gpuinfo.h"
#include "device.h"
#include "kcmdialogs_debug.h"
#include "ui_gpuinfo.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

GpuInfo::GpuInfo(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::GpuInfo)
{
    ui->setupUi(this);
}

GpuInfo::~GpuInfo()
{
    delete ui;
}

void GpuInfo::updateInfo(const Device &device)
{
    ui->modelLabel->setText(device.name());
    ui->vendorLabel->setText(device.vendorName());
    ui->busLabel->setText(device.sysfsBusId());
    ui->devIdLabel->setText(device.deviceId());
    ui->uniqIdLabel->setText(device.uniqueId());
}

QString GpuInfo::currentRenderer()
{
    QOpenGLContext context;
    QOffscreenSurface surface;
    surface.create();

    if (!context.create()) {
        qCWarning(KCMDIALOGS) << "Failed create QOpenGLContext";
        return QString();
    }
    if (!context.makeCurrent(&surface)) {
        qCWarning(KCMDIALOGS) << "Failed to make QOpenGLContext current";
        return QString();
    }
    const auto *renderer = context.functions()->glGetString(GL_RENDERER);
    const QString name = renderer ? QString::fromUtf8(reinterpret_cast<const char *>(renderer)) : QString();
    context.doneCurrent();
    return name;
}
