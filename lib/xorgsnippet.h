// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Reading back the small X configuration files this system writes. Header-only, so that the
// privileged helper, which links nothing of the driver library, reads them by the same rules.
namespace XOrgSnippet
{
namespace detail
{
// The quoted value after a keyword at the start of a line (X configuration keywords ignore
// case); empty when the line is something else.
inline QByteArray quotedValue(const QByteArray &line, const QByteArray &keyword)
{
    const QByteArray trimmed = line.trimmed();
    if (trimmed.size() <= keyword.size() || qstrnicmp(trimmed.constData(), keyword.constData(), keyword.size()) != 0) {
        return QByteArray();
    }
    const QByteArray rest = trimmed.mid(keyword.size());
    if (rest.isEmpty() || (rest.at(0) != ' ' && rest.at(0) != '\t')) {
        return QByteArray();
    }
    const QByteArray value = rest.trimmed();
    if (value.size() < 2 || !value.startsWith('"')) {
        return QByteArray();
    }
    const int end = value.indexOf('"', 1);
    return end < 0 ? QByteArray() : value.mid(1, end - 1);
}

// The lines of the first Device section, comments dropped.
inline QList<QByteArray> firstDeviceSection(const QByteArray &text)
{
    QList<QByteArray> section;
    bool inside = false;
    for (QByteArray line : text.split('\n')) {
        const int comment = line.indexOf('#');
        if (comment >= 0) {
            line.truncate(comment);
        }
        if (!inside) {
            inside = quotedValue(line, "Section").toLower() == "device";
            continue;
        }
        if (line.trimmed().toLower() == "endsection") {
            return section;
        }
        section.append(line);
    }
    return section;
}

inline QString sectionValue(const QByteArray &text, const QByteArray &keyword)
{
    for (const QByteArray &line : firstDeviceSection(text)) {
        const QByteArray value = quotedValue(line, keyword);
        if (!value.isEmpty()) {
            return QString::fromUtf8(value);
        }
    }
    return QString();
}
}

// The X driver the first Device section names ("Driver" line); empty when there is none.
inline QString deviceDriver(const QByteArray &text)
{
    return detail::sectionValue(text, "Driver");
}

// The bus id the first Device section names ("BusID" line, decimal fields); empty when none.
inline QString deviceBusId(const QByteArray &text)
{
    return detail::sectionValue(text, "BusID");
}

// The value of the first Device section's Option "TearFree"; empty when it is not set.
inline QString tearFreeValue(const QByteArray &text)
{
    for (const QByteArray &line : detail::firstDeviceSection(text)) {
        const QByteArray option = detail::quotedValue(line, "Option");
        if (option.toLower() == "tearfree") {
            const QByteArray trimmed = line.trimmed();
            const int first = trimmed.indexOf('"');
            const int second = trimmed.indexOf('"', first + 1);
            const int third = trimmed.indexOf('"', second + 1);
            const int fourth = third < 0 ? -1 : trimmed.indexOf('"', third + 1);
            return fourth < 0 ? QString() : QString::fromUtf8(trimmed.mid(third + 1, fourth - third - 1));
        }
    }
    return QString();
}
}
