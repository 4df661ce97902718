#pragma once

// Placeholder: the interface of the kernel module information dialog, with trivial bodies.

#include <QDialog>

class ModuleInfo : public QDialog
{
    Q_OBJECT
public:
    explicit ModuleInfo(QWidget *parent);

    bool updateInfo(const QString &path, const QString &name);
    static QString version(const QString &path);
};
