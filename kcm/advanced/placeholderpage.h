#pragma once

#include "isettingspage.h"

// A page for a category whose settings are not available yet: one line of text, never
// modified, nothing to save.
class PlaceholderPage : public ISettingsPage
{
    Q_OBJECT
public:
    PlaceholderPage(const QString &text, QWidget *parent);

    SaveResult saveSettings() override;
    bool isModified() const override;
};
