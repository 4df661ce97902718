// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QComboBox>
#include <QStringList>
#include <QWidget>

// The named child widget of the given type; a missing one ends the test at once, as every
// check after it would only fail on a null pointer.
template<typename T>
T *child(QWidget *parent, const char *name)
{
    T *widget = parent->findChild<T *>(QString::fromLatin1(name));
    if (!widget) {
        qFatal("missing widget %s", name);
    }
    return widget;
}

// The texts of a combo box's items, in order.
inline QStringList itemTexts(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i) {
        texts.append(box->itemText(i));
    }
    return texts;
}
