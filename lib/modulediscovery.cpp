// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "modulediscovery.h"
#include "systempaths.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <cstring>
#include <elf.h>
#include <limits>

ModuleIndex::ModuleIndex(const QString &root)
{
    const QString top = root.isEmpty() ? runningKernelTree() : root;
    QDirIterator it(top, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden, QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString fileName = it.fileName();
        if (!m_firstMatch.contains(fileName)) {
            m_firstMatch.insert(fileName, path);
        }
    }
}

QString ModuleIndex::find(const QString &fileName) const
{
    return m_firstMatch.value(fileName);
}

QString ModuleIndex::runningKernelTree()
{
    return SystemPaths::moduleTreeRoot() + QSysInfo::kernelVersion();
}

namespace ModuleFiles
{
QString dashedName(const QString &name)
{
    QString dashed = name;
    return dashed.replace(QLatin1Char('_'), QLatin1Char('-'));
}

QString fileNameFor(const QString &name)
{
    return dashedName(name) + QStringLiteral(".ko");
}

static QString valueOfNameRecord(const QByteArray &record)
{
    // "name=i915" gives "i915"; "x=y=z" gives "y".
    const QList<QByteArray> parts = record.split('=');
    if (parts.size() < 2) {
        return QString();
    }
    return QString::fromLocal8Bit(parts.at(1));
}

QString firstNameRecord(const QByteArray &data)
{
    int start = 0;
    while (start < data.size()) {
        int end = data.indexOf('\0', start);
        if (end < 0) {
            end = data.size();
        }
        const QByteArray record = data.mid(start, end - start);
        if (record.contains("name=")) {
            return valueOfNameRecord(record);
        }
        start = end + 1;
    }
    return QString();
}

namespace
{
template<typename Ehdr, typename Shdr>
QString modinfoName(const QByteArray &data)
{
    const auto size = static_cast<quint64>(data.size());
    if (size < sizeof(Ehdr)) {
        return QString();
    }
    Ehdr eh;
    std::memcpy(&eh, data.constData(), sizeof eh);
    if (eh.e_shentsize != sizeof(Shdr) || eh.e_shnum == 0 || eh.e_shstrndx >= eh.e_shnum) {
        return QString();
    }
    // offset and length both come from the file: compare the length with what is left after
    // the offset, so that no sum of the two can wrap around past the size check.
    auto fits = [size](quint64 offset, quint64 length) {
        return offset <= size && length <= size - offset;
    };
    if (eh.e_shoff == 0 || !fits(eh.e_shoff, quint64(eh.e_shnum) * sizeof(Shdr))) {
        return QString();
    }
    auto section = [&](int index) {
        Shdr sh;
        std::memcpy(&sh, data.constData() + eh.e_shoff + quint64(index) * sizeof(Shdr), sizeof sh);
        return sh;
    };
    auto inFile = [&](const Shdr &sh) {
        return sh.sh_type != SHT_NOBITS && fits(sh.sh_offset, sh.sh_size);
    };
    const Shdr names = section(eh.e_shstrndx);
    if (!inFile(names)) {
        return QString();
    }
    const QByteArray sectionNames = data.mid(int(names.sh_offset), int(names.sh_size));
    for (int i = 0; i < eh.e_shnum; ++i) {
        const Shdr sh = section(i);
        if (sh.sh_name >= quint64(sectionNames.size()) || !inFile(sh)) {
            continue;
        }
        // The whole name with its terminating NUL must lie inside the table: a table cut short
        // must not let ".mod" pass for ".modinfo".
        static constexpr char wanted[] = ".modinfo";
        if (quint64(sh.sh_name) + sizeof wanted > quint64(sectionNames.size())
            || std::memcmp(sectionNames.constData() + sh.sh_name, wanted, sizeof wanted) != 0) {
            continue;
        }
        const QByteArray modinfo = data.mid(int(sh.sh_offset), int(sh.sh_size));
        for (const QByteArray &entry : modinfo.split('\0')) {
            if (entry.startsWith("name=")) {
                return valueOfNameRecord(entry);
            }
        }
        return QString();
    }
    return QString();
}
}

QString modinfoNameFromElf(const QByteArray &data)
{
    if (data.size() < EI_NIDENT || std::memcmp(data.constData(), ELFMAG, SELFMAG) != 0) {
        return QString();
    }
    // Modules of the running kernel share the machine's byte order; other files are not ours.
    if (data.at(EI_DATA) != (Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? ELFDATA2LSB : ELFDATA2MSB)) {
        return QString();
    }
    switch (data.at(EI_CLASS)) {
    case ELFCLASS64:
        return modinfoName<Elf64_Ehdr, Elf64_Shdr>(data);
    case ELFCLASS32:
        return modinfoName<Elf32_Ehdr, Elf32_Shdr>(data);
    default:
        return QString();
    }
}

QString declaredNameFromData(const QByteArray &data)
{
    if (data.size() >= SELFMAG && std::memcmp(data.constData(), ELFMAG, SELFMAG) == 0) {
        const QString fromModinfo = modinfoNameFromElf(data);
        if (!fromModinfo.isEmpty()) {
            return fromModinfo;
        }
    }
    return firstNameRecord(data);
}

QString declaredName(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QString();
    }
    const qint64 size = file.size();
    // Kernel modules are megabytes; anything beyond what one byte array can hold is not one.
    if (size <= 0 || size > std::numeric_limits<int>::max()) {
        return QString();
    }
    // Map the file instead of reading it: a module is several megabytes and only two small
    // sections of it are looked at.
    if (uchar *mapped = file.map(0, size)) {
        const QByteArray view = QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), int(size));
        const QString result = declaredNameFromData(view);
        file.unmap(mapped);
        return result;
    }
    return declaredNameFromData(file.readAll());
}
}
