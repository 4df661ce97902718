// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// KAuth's helper side takes its bus name a moment before it registers the object that serves
// the actions; a call that the bus delivers in between (the very first action, which activated
// the helper) fails with "No such object path '/'". Tests that need a deterministic first action
// activate the helper themselves and wait until it serves before executing it. The probe is an
// introspection of the helper, which the stock bus policy of KAuth helpers refuses: it works on
// the allow-all bus of apt-transaction.sh only.

#include "helperclient.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QThread>

namespace HelperBus
{
inline bool waitUntilServing(int timeoutMs = 30000)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    bus.interface()->startService(HelperClient::helperId());
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        const QDBusMessage reply = bus.call(QDBusMessage::createMethodCall(HelperClient::helperId(),
                                                                           QStringLiteral("/"),
                                                                           QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                                                           QStringLiteral("Introspect")),
                                            QDBus::Block,
                                            5000);
        if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toString().contains(QLatin1String("\"org.kde.kf5auth\""))) {
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}
}
