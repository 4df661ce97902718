// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The helper's checks of client values. Properties: a value accepted for an X configuration
// line keeps a built snippet at its own line count; a bus id is valid exactly when it
// converts, and the conversion gives the same numbers in decimal, each field at least as wide.
#include "helperlogic.h"

#include <QRegularExpression>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QString value = QString::fromUtf8(reinterpret_cast<const char *>(bytes), int(size));

    if (HelperLogic::isSafeConfigValue(value)) {
        const QString plain = HelperLogic::buildXOrgSnippet(0x8086, QStringLiteral("x"), QStringLiteral("intel"), QStringLiteral("PCI:0@0:2:0"));
        const QString snippet = HelperLogic::buildXOrgSnippet(0x8086, value, QStringLiteral("intel"), QStringLiteral("PCI:0@0:2:0"));
        if (snippet.count(QLatin1Char('\n')) != plain.count(QLatin1Char('\n')) || snippet.count(QLatin1Char('"')) != plain.count(QLatin1Char('"'))) {
            std::abort();
        }
    }

    const bool valid = HelperLogic::isValidBusId(value);
    const QString converted = HelperLogic::xorgBusId(value);
    if (valid == converted.isEmpty()) {
        std::abort();
    }
    if (valid) {
        static const QRegularExpression decimal(QStringLiteral("\\APCI:([0-9]+)@([0-9]+):([0-9]+):([0-9]+)\\z"));
        static const QRegularExpression hex(QStringLiteral("\\APCI:([0-9A-Fa-f]+)@([0-9A-Fa-f]+):([0-9A-Fa-f]+):([0-9A-Fa-f]+)\\z"));
        const QRegularExpressionMatch out = decimal.match(converted);
        const QRegularExpressionMatch in = hex.match(value);
        if (!out.hasMatch() || !in.hasMatch()) {
            std::abort();
        }
        for (int i = 1; i <= 4; ++i) {
            bool okIn = false;
            bool okOut = false;
            if (in.captured(i).toULongLong(&okIn, 16) != out.captured(i).toULongLong(&okOut, 10) || !okIn || !okOut
                || out.captured(i).size() < in.captured(i).size()) {
                std::abort();
            }
        }
    }
    return 0;
}
