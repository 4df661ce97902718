// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "modaliasmatch.h"
#include "driverlib_debug.h"

#include <QRegularExpression>

namespace ModaliasMatch
{
QStringList patterns(const QString &field)
{
    QString inner = field;
    const int open = inner.indexOf(QLatin1Char('('));
    if (open >= 0) {
        inner.remove(0, open + 1);
    }
    const int close = inner.indexOf(QLatin1Char(')'));
    if (close >= 0) {
        inner.remove(close, 1);
    }
    return inner.split(QStringLiteral(", "), Qt::KeepEmptyParts);
}

bool patternMatches(const QString &pattern, const QString &modalias)
{
    if (pattern.isEmpty()) {
        return false;
    }
    // Everything but the wildcard is literal text: a stray "(", "[", "." or "+" in a package's
    // field must neither break the expression nor widen the match.
    const QStringList literals = pattern.split(QLatin1Char('*'), Qt::KeepEmptyParts);
    QStringList escaped;
    escaped.reserve(literals.size());
    for (const QString &literal : literals) {
        escaped.append(QRegularExpression::escape(literal));
    }
    const QRegularExpression expression(escaped.join(QStringLiteral(".+")));
    if (!expression.isValid()) {
        qCWarning(DRIVERLIB) << "Unusable alias pattern" << pattern << expression.errorString();
        return false;
    }
    return expression.match(modalias).hasMatch();
}

bool matches(const QString &field, const QString &modalias)
{
    const QStringList list = patterns(field);
    for (const QString &pattern : list) {
        if (patternMatches(pattern, modalias)) {
            return true;
        }
    }
    return false;
}
}
