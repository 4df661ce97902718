#!/bin/bash
# Configures and builds the project in ./build and stages an installation in ./build/stage
# (the integration tests overlay the staged files on the real system folders inside private
# mount namespaces). Usage: scripts/build.sh
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$TOP/build}

cmake -S "$TOP" -B "$BUILD" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON
cmake --build "$BUILD" -j"$(nproc)"
rm -rf "$BUILD/stage"
DESTDIR="$BUILD/stage" cmake --install "$BUILD" >/dev/null
