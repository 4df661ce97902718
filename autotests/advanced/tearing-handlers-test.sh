#!/bin/sh
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# tearing-handlers-test.sh BINARY: runs the tearing handlers test as nobody when started as root
# (file permissions then bind it as they bind a user: a read-only folder stays read-only), else
# as the caller. picom's own parser reads the compositor file under Xvfb, so both must be there.
. "$(dirname "$0")/../harness/skip.sh"
for tool in /usr/bin/picom Xvfb; do
    command -v "$tool" >/dev/null || skip_test "$tool is not installed"
done
if [ "$(id -u)" = 0 ]; then
    exec /usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"
fi
exec "$@"
