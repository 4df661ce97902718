// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The modalias matcher on a field and an adapter modalias (the input's first line is the
// field, the rest the modalias). Properties: the field matches exactly when one of its
// patterns does; a pattern without "*" matches a modalias that contains it; "*" never stands
// for nothing.
#include "modaliasmatch.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char *>(bytes), int(size));
    const int cut = data.indexOf('\n');
    const QString field = QString::fromLatin1(cut < 0 ? data : data.left(cut));
    const QString modalias = cut < 0 ? QString() : QString::fromLatin1(data.mid(cut + 1));

    bool any = false;
    for (const QString &pattern : ModaliasMatch::patterns(field)) {
        any = ModaliasMatch::patternMatches(pattern, modalias) || any;
    }
    if (ModaliasMatch::matches(field, modalias) != any) {
        std::abort();
    }
    // A literal piece of the modalias, used as a pattern, matches it.
    if (!modalias.isEmpty() && !modalias.contains(QLatin1Char('*'))) {
        const QString piece = modalias.mid(modalias.size() / 3, modalias.size() / 2 + 1);
        if (!piece.isEmpty() && !ModaliasMatch::patternMatches(piece, modalias)) {
            std::abort();
        }
        // "*" takes at least one character: the whole modalias with one more in front cannot
        // be matched by "*" + modalias when the modalias is all there is.
        if (ModaliasMatch::patternMatches(QLatin1Char('*') + modalias, modalias)) {
            std::abort();
        }
    }
    return 0;
}
