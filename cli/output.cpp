// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "output.h"

#include <QStringList>
#include <QTextStream>

#include <cstdio>

namespace Output
{
namespace
{
QStringList *heldBack = nullptr;
}

void holdBack(QStringList *sink)
{
    heldBack = sink;
}

void line(const QString &text)
{
    if (heldBack) {
        heldBack->append(text);
        return;
    }
    static QTextStream stream(stdout);
    stream << text << '\n';
    stream.flush();
}
}
