// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>

// Whether a kernel module that DKMS builds and signs now would load. DKMS signs with its own
// key; with Secure Boot on, the kernel refuses the module until that key is enrolled in the
// machine owner key list, which only the administrator can do, at the next boot.
namespace SecureBoot
{
enum class State {
    NoTool, // no mokutil (or it cannot run): nothing to say
    Off, // Secure Boot disabled or not supported
    KeyEnrolled, // on, and the DKMS key is enrolled
    KeyNotEnrolled, // on, and the key is not enrolled (or does not exist yet)
};

// Asks mokutil. Both paths are absolute; the key need not exist yet (DKMS makes it on its
// first build, and a key made then is not enrolled).
State query(const QString &mokutil, const QString &key);
// The same for the system's mokutil and DKMS key.
State query();

// The one line said before a DKMS driver is installed (and by list-packages) when the state is
// KeyNotEnrolled.
QString warningLine();
// The command and the steps that enrol the key, shown after a successful install.
QString enrolmentSteps(const QString &key);
}
