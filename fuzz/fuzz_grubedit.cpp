// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The Intel configurator's editing of /etc/default/grub. The first input byte picks the edit,
// the rest is the file. Property: an edit changes nothing but the active
// GRUB_CMDLINE_LINUX_DEFAULT lines; every other line stays byte for byte as it was, and an
// edited line is still an active command line.
#include "intelvideoconfigurator.h"

#include <QLoggingCategory>

#include <cstdint>
#include <cstdlib>

namespace
{
bool isActiveCommandLine(const QString &line)
{
    int i = 0;
    while (i < line.size() && (line.at(i) == QLatin1Char(' ') || line.at(i) == QLatin1Char('\t'))) {
        ++i;
    }
    return line.midRef(i).startsWith(QLatin1String("GRUB_CMDLINE_LINUX_DEFAULT=\""));
}
}

// A refusal logs a warning; millions of them would only slow the run down.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QLoggingCategory::setFilterRules(QStringLiteral("corvo.*=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 1) {
        return 0;
    }
    const QString content = QString::fromLatin1(reinterpret_cast<const char *>(bytes + 1), int(size - 1));
    const QString guc = IntelVideoConfigurator::gucOption();
    const QString fbc = IntelVideoConfigurator::fbcOption();
    QString result;
    switch (bytes[0] % 4) {
    case 0:
        result = IntelVideoConfigurator::modifyKernelOption(content, guc, QStringLiteral("3"));
        break;
    case 1:
        result = IntelVideoConfigurator::modifyKernelOption(content, fbc, QStringLiteral("1"));
        break;
    case 2:
        result = IntelVideoConfigurator::removeKernelOptions(content, {guc});
        break;
    default:
        result = IntelVideoConfigurator::removeKernelOptions(content, {guc, fbc});
        break;
    }
    if (result.isEmpty()) {
        return 0; // refused
    }
    const QStringList before = content.split(QLatin1Char('\n'));
    const QStringList after = result.split(QLatin1Char('\n'));
    if (before.size() != after.size()) {
        std::abort();
    }
    for (int i = 0; i < before.size(); ++i) {
        if (before.at(i) == after.at(i)) {
            continue;
        }
        if (!isActiveCommandLine(before.at(i)) || !isActiveCommandLine(after.at(i))) {
            std::abort();
        }
    }
    // Applying the same edit again changes nothing.
    QString again;
    switch (bytes[0] % 4) {
    case 0:
        again = IntelVideoConfigurator::modifyKernelOption(result, guc, QStringLiteral("3"));
        break;
    case 1:
        again = IntelVideoConfigurator::modifyKernelOption(result, fbc, QStringLiteral("1"));
        break;
    case 2:
        again = IntelVideoConfigurator::removeKernelOptions(result, {guc});
        break;
    default:
        again = IntelVideoConfigurator::removeKernelOptions(result, {guc, fbc});
        break;
    }
    if (again != result) {
        std::abort();
    }
    return 0;
}
