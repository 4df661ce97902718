// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The helper's acceptance check of a new /etc/default/grub. The input is a current file and an
// edit of it: two bytes of offset, two of length, then the current file, a NUL, and the bytes
// that replace that range. Property: when the current file only sets variables, any accepted
// new file, sourced as update-grub does, also only sets variables, the same ones in the same
// order to the same values, GRUB_CMDLINE_LINUX_DEFAULT's apart.
#include "helperlogic.h"
#include "shassignments.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 4) {
        return 0;
    }
    const QByteArray data(reinterpret_cast<const char *>(bytes + 4), int(size - 4));
    const int cut = data.indexOf('\0');
    const QByteArray current = cut < 0 ? data : data.left(cut);
    const QByteArray insert = cut < 0 ? QByteArray() : data.mid(cut + 1);
    const int offset = (bytes[0] | bytes[1] << 8) % (current.size() + 1);
    const int length = qMin(int(bytes[2] | bytes[3] << 8), current.size() - offset);
    const QByteArray proposed = current.left(offset) + insert + current.mid(offset + length);

    if (!HelperLogic::checkGrubContent(current, proposed).isEmpty()) {
        return 0;
    }
    QList<ShAssignments::Assignment> before;
    if (!ShAssignments::read(current, &before)) {
        return 0; // the current file runs more than assignments: no claim about it
    }
    QList<ShAssignments::Assignment> after;
    if (!ShAssignments::read(proposed, &after) || after.size() != before.size()) {
        std::abort();
    }
    for (int i = 0; i < before.size(); ++i) {
        if (before.at(i).first != after.at(i).first) {
            std::abort();
        }
        if (before.at(i).second != after.at(i).second && before.at(i).first != "GRUB_CMDLINE_LINUX_DEFAULT") {
            std::abort();
        }
    }
    return 0;
}
