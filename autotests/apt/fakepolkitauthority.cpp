// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// A stand-in for the polkit authority on a private test bus: every CheckAuthorization is
// answered "authorised, no challenge" (or "not authorised" with --deny), so the real QApt
// worker accepts transactions without a polkit daemon. Prints "ready" on standard output once
// the name is owned. Only ever started by harness/apt-transaction.sh.

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>

#include <cstdio>

namespace
{
// polkit's AuthorizationResult: (bba{ss})
struct AuthorizationResult {
    bool isAuthorized = false;
    bool isChallenge = false;
    QMap<QString, QString> details;
};
}
Q_DECLARE_METATYPE(AuthorizationResult)

QDBusArgument &operator<<(QDBusArgument &argument, const AuthorizationResult &result)
{
    argument.beginStructure();
    argument << result.isAuthorized << result.isChallenge << result.details;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, AuthorizationResult &result)
{
    argument.beginStructure();
    argument >> result.isAuthorized >> result.isChallenge >> result.details;
    argument.endStructure();
    return argument;
}

class Authority : public QDBusVirtualObject
{
public:
    explicit Authority(bool allow)
        : m_allow(allow)
    {
    }

    QString introspect(const QString &) const override
    {
        return QString();
    }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QString member = message.member();
        if (member == QStringLiteral("CheckAuthorization")) {
            std::fprintf(stderr, "fake polkit: %s -> %s\n", qPrintable(message.arguments().value(1).toString()), m_allow ? "allowed" : "denied");
            QDBusMessage reply = message.createReply();
            reply << QVariant::fromValue(AuthorizationResult{m_allow, false, {}});
            connection.send(reply);
        } else if (member == QStringLiteral("GetAll")) {
            connection.send(message.createReply(QVariant::fromValue(QVariantMap())));
        } else if (member == QStringLiteral("RegisterAuthenticationAgent") || member == QStringLiteral("UnregisterAuthenticationAgent")
                   || member == QStringLiteral("CancelCheckAuthorization")) {
            connection.send(message.createReply());
        } else {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("not provided by the test authority")));
        }
        return true;
    }

private:
    bool m_allow;
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<AuthorizationResult>();
    Authority authority(!app.arguments().contains(QStringLiteral("--deny")));
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/PolicyKit1/Authority"), &authority)
        || !bus.registerService(QStringLiteral("org.freedesktop.PolicyKit1"))) {
        std::fprintf(stderr, "fake polkit: cannot register on the system bus: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
