#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The client's answer to a helper that is still starting. KAuth's helper claims its bus name
# before it registers its object, so the call that made the bus start it can be answered
# "No such object path '/'" without reaching it. Here the staged helper is started with
# slowregistration.so preloaded, which holds every object registration back for half a second:
# the first call of each run always meets that answer. The tool must send the request again,
# reach the helper, and say nothing about it on standard error (the debug line names the retry,
# so the test knows it happened; the debug note of the awaited answer is let through too).
#
# Usage: retry-test.sh BINARY_DIR STAGE_DIR SHIM
#   SHIM  the built slowregistration.so
# Exit: 0 passed, 1 failed (the transcript is shown), 77 without root (skipped).
set -uo pipefail
. "$(dirname "$0")/shim-arguments.sh"

# A copy of the staged installation whose helper program starts the real one with the shim.
SLOW=$STAGE-slowregistration
rm -rf "$SLOW"
cp -a "$STAGE" "$SLOW" || exit 1
mv "$SLOW/$HELPER" "$SLOW/$HELPER.real"
# In a sanitizer build the sanitizer's runtime has to come first of all preloaded libraries.
PRELOAD="$(ldd "$STAGE/$HELPER" | awk '/libasan/ {print $3}') $SHIM"
printf '#!/bin/sh\nLD_PRELOAD="%s" exec /%s.real "$@"\n' "${PRELOAD# }" "$HELPER" >"$SLOW/$HELPER"
chmod 755 "$SLOW/$HELPER"
trap 'rm -rf "$SLOW"' EXIT

CONF=/etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf
"$HARNESS/machine-on-bus.sh" "$SLOW" \
    --gpu 0000:0b:00.0,10de,1c03,030000,nouveau --alias 'pci:v000010DEd*sv*sd*bc03sc*i* nouveau' \
    --module kernel/drivers/gpu/drm/nouveau/nouveau.ko=nouveau --xorg 1:nouveau_drv.so -- \
    bash -c '
failed=0
fail() { echo "FAIL: $*"; failed=1; }
QT_LOGGING_RULES=corvo.driverlib.debug=true "$1/corvo-admin-driver" set-module PCI:0b@0000:00:0 nouveau \
    >/tmp/retry.out 2>/tmp/retry.err </dev/null
status=$?
[ $status = 0 ] || fail "exit status $status, not 0"
grep -q "Driver \"nouveau\"" "$2" || fail "the helper did not write $2"
grep -q "^corvo.driverlib: The helper was not ready for \"replace\" on attempt 1" /tmp/retry.err \
    || fail "the first request was not answered \"No such object path\" (no retry seen)"
# The debug notes of the retries, and of the answer the client waits for after its job.
grep -v -e "^corvo.driverlib: The helper was not ready for \"replace\" on attempt" \
    -e "^corvo.driverlib: [0-9]* call(s) to the helper answered [0-9]* ms after the job ended" /tmp/retry.err >/tmp/retry.rest
[ -s /tmp/retry.rest ] && fail "standard error holds more than the retry note"
if [ $failed = 1 ]; then
    echo "--- standard output"; cat /tmp/retry.out
    echo "--- standard error"; cat /tmp/retry.err
    exit 1
fi
echo "PASS: the request was sent again after \"No such object path\", silently"' retry "$BIN_DIR" "$CONF"
