# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by the tests that run the staged helper with a preloaded shim, with their arguments
# BINARY_DIR STAGE_DIR SHIM: sets BIN_DIR, STAGE, SHIM (absolute), HERE, HARNESS and HELPER;
# skips (77) without root and fails when nothing is staged.
BIN_DIR=$(cd "${1:?binary folder}" && pwd)
STAGE=${2:?stage folder}
SHIM=${3:?shim library}
HERE=$(cd "$(dirname "$0")" && pwd)
HARNESS=$(cd "$HERE/../harness" && pwd)
if [ "$(id -u)" != 0 ]; then
    echo "SKIP: needs root for a private system bus with the privileged helper"
    exit 77
fi
HELPER=usr/lib/kauth/libexec/videodriver-helper
if [ ! -x "$STAGE/$HELPER" ]; then
    echo "FAIL: no staged helper in $STAGE; run scripts/build.sh first"
    exit 1
fi
STAGE=$(cd "$STAGE" && pwd)
SHIM=$(cd "$(dirname "$SHIM")" && pwd)/$(basename "$SHIM")
