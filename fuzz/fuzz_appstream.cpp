// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The package source's readers of the AppStream catalogue's modalias globs and of
// nvidia-detect's id lists. The input's first line is a glob pattern, the second a modalias,
// the rest the text of an id list. Properties: a pattern without glob characters matches
// exactly the modalias it spells; "*" matches every modalias; an NVIDIA device id is "10DE"
// and four upper-case hex digits, and only for an NVIDIA PCI modalias; every id a list yields
// is trimmed, one line, in upper case, and reading the ids back gives the same set.
#include "driverpackages.h"

#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Names the line of the property that failed before the run aborts.
#define check(c) checkAt((c), __LINE__)
namespace
{
void checkAt(bool condition, int line)
{
    if (!condition) {
        fprintf(stderr, "property failed at line %d\n", line);
        std::abort();
    }
}

bool hasGlobCharacter(const QString &pattern)
{
    for (const QChar c : pattern) {
        if (c == QLatin1Char('*') || c == QLatin1Char('?') || c == QLatin1Char('[') || c == QLatin1Char('\\')) {
            return true;
        }
    }
    return false;
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char *>(bytes), int(size));
    const QList<QByteArray> parts = data.split('\n');
    const QString pattern = QString::fromLatin1(parts.value(0));
    const QString modalias = QString::fromLatin1(parts.value(1));
    const int listStart = parts.value(0).size() + parts.value(1).size() + 2;
    const QByteArray listText = listStart < data.size() ? data.mid(listStart) : QByteArray();

    // fnmatch sees the text up to its first NUL byte only; keep to texts without one.
    if (!pattern.contains(QChar(0)) && !modalias.contains(QChar(0))) {
        if (!pattern.isEmpty() && !hasGlobCharacter(pattern)) {
            check(DriverPackages::globMatches(pattern, modalias) == (pattern.toUtf8() == modalias.toUtf8()));
        }
        check(DriverPackages::globMatches(QStringLiteral("*"), modalias));
        check(!DriverPackages::globMatches(QString(), modalias));
    }

    const QString id = DriverPackages::nvidiaDeviceId(modalias);
    if (!id.isEmpty()) {
        check(id.size() == 8 && id.startsWith(QLatin1String("10DE")));
        for (const QChar c : id) {
            check((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F')));
        }
        check(modalias.startsWith(QLatin1String("pci:v000010DEd0000")));
    }

    const QSet<QString> ids = DriverPackages::NvidiaIdLists::parse(listText);
    QStringList sorted(ids.cbegin(), ids.cend());
    sorted.sort();
    for (const QString &entry : std::as_const(sorted)) {
        // The lists are bytes: trimmed of ASCII blanks, as the reader trims them.
        const QByteArray bytes = entry.toLatin1();
        check(!bytes.isEmpty() && bytes == bytes.trimmed() && !bytes.contains('\n'));
        for (const QChar c : entry) {
            check(!(c >= QLatin1Char('a') && c <= QLatin1Char('z')));
        }
    }
    check(DriverPackages::NvidiaIdLists::parse(sorted.join(QLatin1Char('\n')).toLatin1()) == ids);
    return 0;
}
