// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDialog>
#include <QString>

namespace Ui
{
class ModuleInfo;
}

// Shows everything modinfo tells about one kernel module file.
class ModuleInfo : public QDialog
{
    Q_OBJECT
public:
    explicit ModuleInfo(QWidget *parent = nullptr);
    ~ModuleInfo() override;

    // Fills the dialog for the module file path, titled name. Returns whether there is
    // anything to show; on failure the administrator has been told already.
    bool updateInfo(const QString &path, const QString &name);

    // The version the module file declares, or "unknown".
    static QString version(const QString &path);

private:
    Ui::ModuleInfo *ui;
};
