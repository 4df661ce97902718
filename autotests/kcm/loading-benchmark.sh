#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# loading-benchmark.sh [RUNS]: how long until the control module's filled window is enabled with
# the real probe, on the made-up machine of scripts/benchmark.sh (an Intel UHD 620 on i915 and an
# AMD Navi 21 on amdgpu) in front of
#   - the real module tree of Debian 12's kernel package that scripts/benchmark.sh unpacks into
#     BENCH_DIR (default /tmp/corvo-benchmark; left out when it is not there), and
#   - a small fixture tree with just the two module files.
# Runs kcm-loading-benchmark --real-probe RUNS times per tree (offscreen) and prints each run's
# figures and the medians. Env: BUILD_DIR (default ./build). Not a test; changes nothing on the host.
set -euo pipefail
TOP=$(cd "$(dirname "$0")/../.." && pwd)
RUNS=${1:-5}
BENCH_DIR=${BENCH_DIR:-/tmp/corvo-benchmark}
BUILD=${BUILD_DIR:-$TOP/build}
BIN=$BUILD/bin/kcm-loading-benchmark
[ -x "$BIN" ] || BIN=$(find "$BUILD" -name kcm-loading-benchmark -type f -perm -u+x | head -n1)
[ -x "$BIN" ] || { echo "loading-benchmark.sh: kcm-loading-benchmark is not built" >&2; exit 1; }
HARNESS=$TOP/autotests/harness/gpu-fixture.sh
MACHINE=(--gpu 0000:00:02.0,8086,5917,030000,i915,1043,1a00
         --gpu 0000:03:00.0,1002,73bf,030000,amdgpu,1002,0e3a
         --drm 0000:00:02.0
         --xlog 'root=[    20.123] (II) modeset(0): Output eDP-1 connected\n'
         --xorg 1:modesetting_drv.so --xorg 2:amdgpu_drv.so)

run() { # LABEL gpu-fixture options for the module tree...
    local label=$1 out i
    shift
    out=$(mktemp)
    echo "== $label"
    for ((i = 1; i <= RUNS; i++)); do
        QT_QPA_PLATFORM=offscreen "$HARNESS" "${MACHINE[@]}" "$@" -- "$BIN" --real-probe 2>/dev/null | tee -a "$out" |
            awk -v run="$i" '/painted|enabled|adapters/ { printf "  run %d: %s\n", run, $0 }' || true
    done
    awk -F': *' '/filled window enabled after/ { split($2, v, " "); if (v[1] >= 0) print v[1] }' "$out" | sort -n |
        awk '{ a[NR] = $1 } END { if (NR) printf "  median filled window enabled after: %s ms (%d runs)\n", (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2, NR }'
    rm -f "$out"
}

tree=$(ls -d "$BENCH_DIR"/linux-image-*/lib/modules/* 2>/dev/null | head -n1 || true)
if [ -n "$tree" ]; then
    run "real module tree $(basename "$tree") ($(find "$tree" -name '*.ko' | wc -l) modules)" --module-tree "$tree"
else
    echo "== no real module tree under $BENCH_DIR (run scripts/benchmark.sh once to fetch it)"
fi
run "small fixture tree (2 modules)" \
    --alias 'pci:v00008086d00005917sv*sd*bc03sc*i* i915' --alias 'pci:v00001002d000073BFsv*sd*bc03sc*i* amdgpu' \
    --module kernel/drivers/gpu/drm/i915/i915.ko=i915 --module kernel/drivers/gpu/drm/amd/amdgpu/amdgpu.ko=amdgpu
