#pragma once

// Placeholder: the interface of the adapter information dialog, with trivial bodies.

#include <QDialog>

class Device;

class GpuInfo : public QDialog
{
    Q_OBJECT
public:
    explicit GpuInfo(QWidget *parent);

    void updateInfo(const Device &device);
    static QString currentRenderer();
};
