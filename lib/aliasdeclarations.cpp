// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "aliasdeclarations.h"
#include "driverlib_debug.h"

#include <QFile>

#include <apt-pkg/configuration.h>
#include <apt-pkg/error.h>
#include <apt-pkg/fileutl.h>
#include <apt-pkg/indexfile.h>
#include <apt-pkg/metaindex.h>
#include <apt-pkg/sourcelist.h>
#include <apt-pkg/strutl.h>

#include <cerrno>
#include <cstring>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace
{
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// A plain index file, mapped and scanned in one piece; false when it cannot be read.
bool collectPlainFile(const std::string &path, QSet<QString> &names)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(DRIVERLIB) << "cannot read package index" << file.fileName() << file.errorString();
        return false;
    }
    if (file.size() == 0) {
        return true;
    }
    const uchar *data = file.map(0, file.size());
    if (data) {
        AliasDeclarations::collect(reinterpret_cast<const char *>(data), file.size(), names);
        return true;
    }
    // Not mappable (an odd file system): read it whole instead.
    const QByteArray text = file.readAll();
    if (text.size() != file.size()) {
        qCDebug(DRIVERLIB) << "short read of package index" << file.fileName();
        return false;
    }
    AliasDeclarations::collect(text.constData(), text.size(), names);
    return true;
}

// A compressed list, decompressed by the reader APT itself parses it with (chosen by the file's
// extension) and scanned in pieces that end at a stanza boundary; false when it cannot be read.
bool collectCompressedFile(const std::string &path, QSet<QString> &names)
{
    FileFd file;
    if (!file.Open(path, FileFd::ReadOnly, FileFd::Extension) || file.Failed()) {
        _error->Discard();
        qCDebug(DRIVERLIB) << "cannot open package index" << path.c_str();
        return false;
    }
    constexpr qsizetype chunk = 1 << 20;
    QByteArray buffer;
    for (;;) {
        const qsizetype kept = buffer.size();
        buffer.resize(kept + chunk);
        unsigned long long got = 0;
        if (!file.Read(buffer.data() + kept, chunk, &got)) {
            _error->Discard();
            qCDebug(DRIVERLIB) << "cannot read package index" << path.c_str();
            return false;
        }
        buffer.resize(kept + qsizetype(got));
        if (got == 0) {
            AliasDeclarations::collect(buffer.constData(), buffer.size(), names);
            return true;
        }
        // Everything up to the last empty line holds whole stanzas only.
        const qsizetype boundary = buffer.lastIndexOf("\n\n");
        if (boundary >= 0) {
            AliasDeclarations::collect(buffer.constData(), boundary + 2, names);
            buffer.remove(0, boundary + 2);
        }
    }
}
}

namespace AliasDeclarations
{
void collect(const char *text, qsizetype size, QSet<QString> &names)
{
    const char *p = text;
    const char *const end = text + size;
    std::vector<QByteArray> stanzaNames;
    bool declares = false;
    const auto endStanza = [&]() {
        if (declares) {
            for (const QByteArray &name : stanzaNames) {
                names.insert(QString::fromUtf8(name));
            }
        }
        stanzaNames.clear();
        declares = false;
    };
    while (p < end) {
        const char *eol = static_cast<const char *>(std::memchr(p, '\n', end - p));
        if (!eol) {
            eol = end;
        }
        if (eol == p) {
            endStanza();
        } else if ((*p | 0x20) == 'p' || (*p | 0x20) == 'm') {
            // A field starts at the line's first byte; continuation lines start with a blank.
            const char *colon = static_cast<const char *>(std::memchr(p, ':', eol - p));
            if (colon) {
                const char *keyEnd = colon;
                while (keyEnd > p && isBlank(keyEnd[-1])) {
                    --keyEnd;
                }
                const auto keyLength = keyEnd - p;
                if (keyLength == 7 && strncasecmp(p, "package", 7) == 0) {
                    const char *value = colon + 1;
                    const char *valueEnd = eol;
                    while (value < valueEnd && isBlank(*value)) {
                        ++value;
                    }
                    while (valueEnd > value && isBlank(valueEnd[-1])) {
                        --valueEnd;
                    }
                    stanzaNames.emplace_back(value, int(valueEnd - value));
                } else if (keyLength == 10 && strncasecmp(p, "modaliases", 10) == 0) {
                    declares = true;
                }
            }
        }
        p = eol + 1;
    }
    endStanza();
}

bool collectFromIndexes(QSet<QString> &names, QSet<QString> *components)
{
    std::vector<std::string> plainFiles;
    std::vector<std::string> compressedFiles;
    pkgSourceList sources;
    if (!sources.ReadMainList()) {
        _error->Discard();
        qCDebug(DRIVERLIB) << "cannot read the source list";
        return false;
    }
    for (metaIndex *const source : sources) {
        for (const IndexTarget &target : source->GetIndexTargets()) {
            // The cache takes packages from the "Packages" targets only.
            if (target.Option(IndexTarget::CREATED_BY) != "Packages") {
                continue;
            }
            const std::string existing = target.Option(IndexTarget::EXISTING_FILENAME);
            if (existing.empty()) {
                continue; // never downloaded: APT has nothing from it either
            }
            if (components) {
                components->insert(QString::fromStdString(target.Option(IndexTarget::COMPONENT)));
            }
            // A plain list ends in "Packages"; anything else is a compressed copy.
            if (APT::String::Endswith(existing, "Packages")) {
                plainFiles.push_back(existing);
            } else {
                compressedFiles.push_back(existing);
            }
        }
    }
    // Installed packages: their record may be the status file's stanza.
    const std::string status = _config->FindFile("Dir::State::status");
    // APT passes over a status file that does not exist, and only then.
    errno = 0;
    if (!status.empty() && (access(status.c_str(), R_OK) == 0 || errno != ENOENT)) {
        plainFiles.push_back(status);
    }
    for (const std::string &file : plainFiles) {
        if (!collectPlainFile(file, names)) {
            return false;
        }
    }
    for (const std::string &file : compressedFiles) {
        if (!collectCompressedFile(file, names)) {
            return false;
        }
    }
    return true;
}
}
