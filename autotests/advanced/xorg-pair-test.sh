#!/bin/sh
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# xorg-pair-test.sh BINARY: the X server with a configuration folder of the test's own needs
# root, the X server itself and its dummy driver.
. "$(dirname "$0")/../harness/skip.sh"
[ "$(id -u)" = 0 ] || skip_test "the X server takes a configuration folder of its own only from root"
[ -x /usr/lib/xorg/Xorg ] || skip_test "xserver-xorg-core is not installed"
[ -f /usr/lib/xorg/modules/drivers/dummy_drv.so ] || skip_test "xserver-xorg-video-dummy is not installed"
exec "$@"
