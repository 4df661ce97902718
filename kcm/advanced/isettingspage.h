// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>
#include <QWidget>

// What saving a page came to.
enum class SaveStatus : qint32 {
    NoChanges = 0, // nothing was saved; the dialog ignores the result
    Error = 1, // saving failed; the message says why
    SuccessRebootRequired = 2, // saved; in effect after a reboot
    Success = 3, // saved and already in effect
};

struct SaveResult {
    SaveStatus status = SaveStatus::NoChanges;
    QString message; // the reason of an Error, else an optional note for the user
};

// One page of the advanced settings. The dialog saves, resets and lights its Save button only
// through these three operations and the signal.
class ISettingsPage : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;

public Q_SLOTS:
    // Applies the page's pending changes.
    virtual SaveResult saveSettings() = 0;
    // True when the page's controls differ from the settings in effect.
    virtual bool isModified() const = 0;
    // Puts the controls back to the settings in effect.
    virtual void reset()
    {
    }

Q_SIGNALS:
    // Emitted whenever the modified state may have changed.
    void modifiedChanged(bool modified);
};
