// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "busconfig.h"
#include "driverswitchhelper.h"

#include <KAuth/HelperSupport>

int main(int argc, char **argv)
{
    // KAuth owns the event loop from here on and ends the process when it has been idle; the
    // helper object lives until then.
    auto *helper = new DriverSwitchHelper;
    return KAuth::HelperSupport::helperMain(argc, argv, VIDEODRIVER_HELPER_ID, helper);
}
