// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

#include <cstring>
#include <elf.h>

// Writes small but well-formed ELF relocatable objects, the form kernel modules have, with the
// sections a test asks for, laid out in the order given. Section names go into a trailing
// .shstrtab; the section header table comes last.
namespace ElfWriter
{
using Section = QPair<QByteArray, QByteArray>; // (name, contents)

template<typename Ehdr, typename Shdr>
QByteArray build(const QList<Section> &sections, unsigned char elfClass)
{
    QByteArray names(1, '\0');
    QList<Shdr> headers;
    headers.append(Shdr{}); // the null section every ELF file starts with
    QByteArray body(sizeof(Ehdr), '\0');
    auto add = [&](const QByteArray &name, const QByteArray &contents, quint32 type) {
        Shdr sh{};
        sh.sh_name = names.size();
        names += name + '\0';
        sh.sh_type = type;
        sh.sh_offset = body.size();
        sh.sh_size = contents.size();
        sh.sh_addralign = 1;
        body += contents;
        headers.append(sh);
    };
    for (const Section &section : sections) {
        add(section.first, section.second, SHT_PROGBITS);
    }
    const int namesIndex = headers.size();
    add(".shstrtab", QByteArray(), SHT_STRTAB); // contents filled in below
    headers.last().sh_size = names.size();
    body += names;

    while (body.size() % 8) {
        body += '\0';
    }
    Ehdr eh{};
    std::memcpy(eh.e_ident, ELFMAG, SELFMAG);
    eh.e_ident[EI_CLASS] = elfClass;
    eh.e_ident[EI_DATA] = ELFDATA2LSB;
    eh.e_ident[EI_VERSION] = EV_CURRENT;
    eh.e_type = ET_REL;
    eh.e_machine = elfClass == ELFCLASS64 ? EM_X86_64 : EM_386;
    eh.e_version = EV_CURRENT;
    eh.e_ehsize = sizeof(Ehdr);
    eh.e_shentsize = sizeof(Shdr);
    eh.e_shnum = headers.size();
    eh.e_shstrndx = namesIndex;
    eh.e_shoff = body.size();
    std::memcpy(body.data(), &eh, sizeof eh);
    for (const Shdr &sh : headers) {
        body += QByteArray(reinterpret_cast<const char *>(&sh), sizeof sh);
    }
    return body;
}

inline QByteArray elf64(const QList<Section> &sections)
{
    return build<Elf64_Ehdr, Elf64_Shdr>(sections, ELFCLASS64);
}

inline QByteArray elf32(const QList<Section> &sections)
{
    return build<Elf32_Ehdr, Elf32_Shdr>(sections, ELFCLASS32);
}

// NUL-separated key=value records, as a .modinfo section holds them.
inline QByteArray records(const QList<QByteArray> &entries)
{
    QByteArray data;
    for (const QByteArray &entry : entries) {
        data += entry + '\0';
    }
    return data;
}
}
