#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Sets everything up and runs the whole test suite: installs the Debian packages, builds,
# stages the installation and runs every test through CTest.
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)

if [ "$(id -u)" = 0 ]; then
    "$TOP/scripts/install-deps.sh"
else
    echo "test.sh: not root, skipping the package installation (run scripts/install-deps.sh as root once)"
fi
"$TOP/scripts/build.sh"
cd "${BUILD_DIR:-$TOP/build}"
ctest --output-on-failure --timeout 600 "$@"

# A short fuzzing run of every reader of outside bytes, in CI or when asked for (FUZZ=1):
# 30 seconds per fuzzer after a clang build of the two libraries; a finding fails the run.
if [ "${CI:-}" = true ] || [ "${FUZZ:-}" = 1 ]; then
    "$TOP/scripts/fuzz.sh" "${FUZZ_SECONDS:-30}"
fi
