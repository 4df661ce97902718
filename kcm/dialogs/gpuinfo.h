// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDialog>
#include <QString>

class Device;

namespace Ui
{
class GpuInfo;
}

// Shows the identifiers of one graphics adapter.
class GpuInfo : public QDialog
{
    Q_OBJECT
public:
    explicit GpuInfo(QWidget *parent = nullptr);
    ~GpuInfo() override;

    void updateInfo(const Device &device);

    // The renderer string of the OpenGL implementation that draws the desktop, or an empty
    // text when no OpenGL context can be had.
    static QString currentRenderer();

private:
    Ui::GpuInfo *ui;
};
