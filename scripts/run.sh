#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Sets everything up and runs the program: installs the Debian packages, builds, installs the
# driver manager into the system (/usr) and lists the machine's graphics adapters. With a
# display it then opens the control module.
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)

if [ "$(id -u)" != 0 ]; then
    echo "run.sh: run as root (sudo scripts/run.sh): it installs packages and the privileged helper" >&2
    exit 1
fi
"$TOP/scripts/install-deps.sh"
"$TOP/scripts/build.sh"
cmake --install "${BUILD_DIR:-$TOP/build}" >/dev/null

echo "Graphics adapters of this machine (corvo-admin-driver list-gpus):"
gpus=$(corvo-admin-driver list-gpus)
if [ -n "$gpus" ]; then
    echo "$gpus"
else
    echo "  none found (no PCI display controller is visible here)"
fi
if [ -n "${DISPLAY:-}" ] && command -v kcmshell5 >/dev/null && [ -n "$(ls /usr/lib/x86_64-linux-gnu/qt5/plugins/corvo_kcm_video_driver.so 2>/dev/null)" ]; then
    kbuildsycoca5 >/dev/null 2>&1 || true
    exec kcmshell5 corvo_kcm_video_driver
fi
