// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "jsonoutput.h"
#include "output.h"
#include "systempaths.h"
#include "xorgsnippet.h"

#include <KLocalizedString>

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QVector>

#include <cstdio>

namespace JsonOutput
{
int run(const Handler &handler, const QStringList &args, QList<Device> &gpus, QByteArray &document)
{
    QStringList messages;
    QJsonObject object;
    Output::holdBack(&messages);
    const int status = handler(args, gpus, object);
    Output::holdBack(nullptr);
    if (status == 0) {
        document = QJsonDocument(object).toJson(QJsonDocument::Indented);
    } else {
        document = errorDocument(messages.isEmpty() ? i18n("The action failed.") : messages.join(QLatin1Char('\n')));
    }
    return status;
}

QByteArray errorDocument(const QString &message)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), message}}).toJson(QJsonDocument::Indented);
}

namespace
{
// The four numbers of "PCI:bus@domain:device:function"; the probe writes them in hexadecimal,
// the switch snippet in decimal, as the X server reads them. Empty when the text is no bus id.
QVector<uint> busNumbers(const QString &busId, int base)
{
    static const QRegularExpression pattern(QStringLiteral("\\APCI:([0-9A-Fa-f]{1,8})@([0-9A-Fa-f]{1,8}):([0-9A-Fa-f]{1,8}):([0-9A-Fa-f]{1,8})\\z"));
    const QRegularExpressionMatch match = pattern.match(busId);
    QVector<uint> numbers;
    for (int i = 1; match.hasMatch() && i <= 4; ++i) {
        bool ok = false;
        numbers.append(match.captured(i).toUInt(&ok, base));
        if (!ok) {
            return {};
        }
    }
    return numbers;
}
}

QString configuredXOrgDriver(const Device &gpu, const QString &snippetPath)
{
    QFile file(snippetPath);
    if (!file.open(QIODevice::ReadOnly)) {
        return QString();
    }
    const QByteArray text = file.readAll();
    const QVector<uint> own = busNumbers(gpu.sysfsBusId(), 16);
    if (own.isEmpty() || busNumbers(XOrgSnippet::deviceBusId(text), 10) != own) {
        return QString();
    }
    return XOrgSnippet::deviceDriver(text);
}

QJsonObject gpuObject(const Device &gpu)
{
    const QString configured = configuredXOrgDriver(gpu, SystemPaths::xorgSwitchSnippet());
    return QJsonObject{
        {QStringLiteral("busId"), gpu.sysfsBusId()},
        {QStringLiteral("model"), gpu.model()},
        {QStringLiteral("vendor"), gpu.vendorName()},
        {QStringLiteral("configuredXorgDriver"), configured.isEmpty() ? QJsonValue() : QJsonValue(configured)},
    };
}

void print(const QByteArray &document)
{
    std::fwrite(document.constData(), 1, size_t(document.size()), stdout);
    std::fflush(stdout);
}
}
