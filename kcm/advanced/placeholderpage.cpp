#include "placeholderpage.h"

#include <QLabel>
#include <QVBoxLayout>

PlaceholderPage::PlaceholderPage(const QString &text, QWidget *parent)
    : ISettingsPage(parent)
{
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(text, this);
    label->setObjectName(QStringLiteral("placeholderLabel"));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    layout->addWidget(label);
}

SaveResult PlaceholderPage::saveSettings()
{
    return {SaveStatus::NoChanges, QString()};
}

bool PlaceholderPage::isModified() const
{
    return false;
}
