#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the Debian packages (debian/) into OUTDIR, default build/debs:
#   scripts/package.sh [OUTDIR]
# The build runs in a clean copy of the source tree, OUTDIR/.work/corvo-video-driver: in a git
# checkout the files git knows (committed or added, as they are in the working tree), so nothing
# generated or ignored (build folders, ECM's .clang-format) reaches the packages, and the
# checkout itself is never written to. DEB_BUILD_OPTIONS passes through (e.g. noautodbgsym).
# Where ccache is installed its cache is used. Needs the build dependencies of debian/control
# (scripts/install-deps.sh installs them).
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
OUT=${1:-$TOP/build/debs}
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
# A fixed place, so that the compiler sees the same paths at every run (and ccache hits).
WORK=$OUT/.work
SRC=$WORK/corvo-video-driver

rm -rf "$WORK"
mkdir -p "$SRC"
if git -C "$TOP" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    # Tracked files that still exist (a deleted one is left out, as a commit would).
    (cd "$TOP" && git ls-files -z --cached | while IFS= read -r -d '' f; do
        if [ -e "$f" ] || [ -L "$f" ]; then printf '%s\0' "$f"; fi
    done | tar -c --null -T - -f -) | tar -x -C "$SRC" -f -
else
    tar -c -C "$TOP" --exclude='./build*' --exclude=./.clang-format -f - . | tar -x -C "$SRC" -f -
fi

if command -v ccache >/dev/null 2>&1; then
    export CCACHE_DIR=${CCACHE_DIR:-$(ccache -k cache_dir)}
    export CCACHE_BASEDIR=$WORK CCACHE_NOHASHDIR=1
fi

(cd "$SRC" && dpkg-buildpackage -us -uc -b -Jauto)

rm -f "$OUT"/*.deb "$OUT"/*.buildinfo "$OUT"/*.changes
mv "$WORK"/*.deb "$WORK"/*.buildinfo "$WORK"/*.changes "$OUT"/
# The copy and its build folder are not needed again (ccache keeps what it compiled).
rm -rf "$WORK"
echo "package.sh: packages in $OUT:"
ls -1 "$OUT"/*.deb
