// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The module name reader on arbitrary module files: it must never read outside the data, and
// a name it returns is text of the file: no NUL byte, never empty when reported as found.
#include "modulediscovery.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char *>(bytes), int(size));
    const QString fromElf = ModuleFiles::modinfoNameFromElf(data);
    const QString fromRecords = ModuleFiles::firstNameRecord(data);
    const QString name = ModuleFiles::declaredNameFromData(data);
    // The declared name is the .modinfo entry when there is one, else the first record's.
    if (name != (fromElf.isEmpty() ? fromRecords : fromElf)) {
        std::abort();
    }
    if (name.contains(QChar(0))) {
        std::abort();
    }
    return 0;
}
