// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "gpulookup.h"
#include "output.h"

#include <KLocalizedString>

#include <algorithm>

namespace
{
// The names an adapter answers to, in the order they are tried: libhd's model, the X bus id,
// the vendor and the PCI database name the control module shows.
QStringList namesOf(const Device &gpu)
{
    return {gpu.model(), gpu.sysfsBusId(), gpu.vendorName(), gpu.name()};
}

bool answersTo(const Device &gpu, const QString &argument, Qt::CaseSensitivity cs)
{
    const QStringList names = namesOf(gpu);
    return std::any_of(names.begin(), names.end(), [&](const QString &name) {
        return !name.isEmpty() && name.compare(argument, cs) == 0;
    });
}
}

QList<Device>::iterator findGpu(const QString &argument, QList<Device> &gpus)
{
    // As typed, the first adapter that answers wins (a vendor name picks the first of its
    // adapters).
    for (auto it = gpus.begin(); it != gpus.end(); ++it) {
        if (answersTo(*it, argument, Qt::CaseSensitive)) {
            return it;
        }
    }
    // Ignoring case only when that names a single adapter: "intel corporation" on a machine
    // with two Intel adapters could mean either.
    auto found = gpus.end();
    for (auto it = gpus.begin(); it != gpus.end(); ++it) {
        if (answersTo(*it, argument, Qt::CaseInsensitive)) {
            if (found != gpus.end()) {
                found = gpus.end();
                break;
            }
            found = it;
        }
    }
    if (found != gpus.end()) {
        return found;
    }
    Output::line(i18n("Couldn't find GPU by BusID / Model / Vendor using argument %1", argument));
    return gpus.end();
}
