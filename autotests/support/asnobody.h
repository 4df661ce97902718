// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A root test runs a program as the unprivileged user nobody (uid and gid 65534, no
// supplementary groups), to show what a hostile local user can and cannot do:
//   process.start(AsNobody::program(), AsNobody::arguments(program, args));

#include <QString>
#include <QStringList>

namespace AsNobody
{
inline QString program()
{
    return QStringLiteral("/usr/bin/setpriv");
}

inline QStringList arguments(const QString &program, const QStringList &args = {})
{
    return QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"), QStringLiteral("--"), program}
    + args;
}
}
