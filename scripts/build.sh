#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Configures and builds the project in ./build and stages an installation in ./build/stage
# (the integration tests overlay the staged files on the real system folders inside private
# mount namespaces). Usage: scripts/build.sh
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$TOP/build}

# ccache, when a developer has it, lets several checkouts of the tree share compiled objects;
# CI builds once and does without it.
LAUNCHER=()
if command -v ccache >/dev/null 2>&1; then
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$TOP")} CCACHE_NOHASHDIR=1
    LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

cmake -S "$TOP" -B "$BUILD" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
    "${LAUNCHER[@]}" ${CMAKE_EXTRA_ARGS:-}
cmake --build "$BUILD" -j"$(nproc)"
rm -rf "$BUILD/stage"
DESTDIR="$BUILD/stage" cmake --install "$BUILD" >/dev/null
