#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# benchmark.sh: how fast does corvo-admin-driver list a machine, next to lspci -k?
#
# Usage: scripts/benchmark.sh [RUNS]          (default 15 runs per command; run scripts/build.sh first)
# Env:   BENCH_DIR   folder for the downloaded kernel package (default /tmp/corvo-benchmark;
#                    kept between runs, so only the first run downloads and unpacks)
#        BUILD_DIR   build folder (default ./build)
#
# The machine is made up (autotests/harness/gpu-fixture.sh): an Intel UHD 620 on i915 and an
# AMD Navi 21 on amdgpu, in front of the real module tree of Debian 12's current kernel package
# (the linux-image-*-amd64 that linux-image-amd64 depends on, fetched with apt-get download,
# unpacked with dpkg -x and indexed with depmod; about 4,000 modules in 900 folders). Inside one
# private mount namespace it times RUNS runs each of
#   corvo-admin-driver list-gpus, corvo-admin-driver list-modules <GPU>, lspci -k
# and prints the medians, the ratio to lspci -k and the peak resident memory of one run each
# (/usr/bin/time -v, Debian package "time"), and whether list-gpus stays within 2.5x of lspci -k.
# The load average is printed with the figures: wall-clock medians on a busy machine say little. It also checks that the real amdgpu and i915
# files give the display names "amdgpu" and "i915". Needs root (or user namespaces), apt access
# for the first run, and about 500 MB in BENCH_DIR. It changes nothing on the host.
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
RUNS=${1:-15}
BENCH_DIR=${BENCH_DIR:-/tmp/corvo-benchmark}
BUILD=${BUILD_DIR:-$TOP/build}
CLI=$BUILD/bin/corvo-admin-driver
HARNESS=$TOP/autotests/harness/gpu-fixture.sh

[ -x "$CLI" ] || { echo "benchmark.sh: $CLI is missing, run scripts/build.sh first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "benchmark.sh: /usr/bin/time is missing (apt-get install time)" >&2; exit 1; }

# ---- the real module tree ----
mkdir -p "$BENCH_DIR"
pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
[ -n "$pkg" ] || { echo "benchmark.sh: apt knows no linux-image-amd64 (run apt-get update)" >&2; exit 1; }
ROOT=$BENCH_DIR/$pkg
if [ ! -f "$ROOT/.ready" ]; then
    echo "fetching $pkg ..."
    rm -rf "$ROOT" "$BENCH_DIR"/*.deb
    (cd "$BENCH_DIR" && apt-get download "$pkg" >/dev/null)
    dpkg -x "$BENCH_DIR/${pkg}"_*.deb "$ROOT"
    rm -f "$BENCH_DIR"/*.deb
    kver=$(ls "$ROOT/lib/modules")
    depmod -b "$ROOT" "$kver"
    touch "$ROOT/.ready"
fi
kver=$(ls "$ROOT/lib/modules")
TREE=$ROOT/lib/modules/$kver
modules=$(find "$TREE" -name '*.ko' | wc -l)
folders=$(find "$TREE" -type d | wc -l)
echo "module tree: $pkg ($kver), $modules modules in $folders folders"

# ---- the timed runs, all in one namespace ----
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
cat >"$OUT/inside.sh" <<'EOF'
set -euo pipefail
OUT=$1 RUNS=$2 CLI=$3
INTEL='PCI:00@0000:02:0'
AMD='PCI:03@0000:00:0'
times() { # NAME COMMAND...: RUNS wall-clock times in ms, one per line
    local name=$1 i t0 t1
    shift
    "$@" >"$OUT/$name.out" 2>&1 # warm the page cache once
    for ((i = 0; i < RUNS; i++)); do
        t0=$(date +%s%N)
        "$@" >/dev/null 2>&1
        t1=$(date +%s%N)
        echo $(((t1 - t0) / 1000)) >>"$OUT/$name.us"
    done
    /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ { print $2 }' >"$OUT/$name.rss"
}
times list-gpus "$CLI" list-gpus
times list-modules-amd "$CLI" list-modules "$AMD"
times list-modules-intel "$CLI" list-modules "$INTEL"
times lspci-k lspci -k
EOF
"$HARNESS" \
    --gpu 0000:00:02.0,8086,5917,030000,i915,1043,1a00 \
    --gpu 0000:03:00.0,1002,73bf,030000,amdgpu,1002,0e3a \
    --module-tree "$TREE" \
    --drm 0000:00:02.0 \
    --xlog 'root=[    20.123] (II) modeset(0): Output eDP-1 connected\n' \
    -- bash "$OUT/inside.sh" "$OUT" "$RUNS" "$CLI"

median() { sort -n "$1" | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.1f", m / 1000 }'; }
base=$(median "$OUT/lspci-k.us")
printf '\n%-34s %12s %14s %14s\n' "command ($RUNS runs)" "median ms" "vs lspci -k" "peak RSS KiB"
for name in list-gpus list-modules-amd list-modules-intel lspci-k; do
    m=$(median "$OUT/$name.us")
    printf '%-34s %12s %13sx %14s\n' "$name" "$m" "$(awk -v a="$m" -v b="$base" 'BEGIN { printf "%.2f", a / b }')" "$(cat "$OUT/$name.rss")"
done

echo
echo "list-gpus:"; sed 's/^/  /' "$OUT/list-gpus.out"
echo "list-modules (AMD):"; sed 's/^/  /' "$OUT/list-modules-amd.out"
echo "list-modules (Intel):"; sed 's/^/  /' "$OUT/list-modules-intel.out"
status=0
grep -qx 'amdgpu (current)' "$OUT/list-modules-amd.out" && echo "amdgpu display name: amdgpu (ok)" ||
    { echo "amdgpu display name: WRONG"; status=1; }
grep -qx 'i915 (current)' "$OUT/list-modules-intel.out" && echo "i915 display name: i915 (ok)" ||
    { echo "i915 display name: WRONG"; status=1; }
ratio=$(awk -v a="$(median "$OUT/list-gpus.us")" -v b="$base" 'BEGIN { printf "%.2f", a / b }')
awk -v r="$ratio" 'BEGIN { exit !(r <= 2.5) }' && echo "list-gpus within 2.5x of lspci -k: yes ($ratio)" ||
    echo "list-gpus within 2.5x of lspci -k: NO ($ratio)"
echo "load average while measuring: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
