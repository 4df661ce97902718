// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "helperclient.h"

#include <QList>

// Stands in for the bus to the privileged helper: records every action that would be sent and
// answers each with the reply the test set (success unless changed).
class RecordingHelperRunner : public IHelperRunner
{
public:
    struct Call {
        QString shortName;
        QVariantMap args;
    };

    HelperResult run(const QString &shortName, const QVariantMap &args) override
    {
        calls.append({shortName, args});
        return reply;
    }

    QList<Call> calls;
    HelperResult reply = succeeded();

    static HelperResult succeeded()
    {
        HelperResult result;
        result.ok = true;
        return result;
    }
};
