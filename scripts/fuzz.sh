#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the libFuzzer targets (fuzz/) in ./build-fuzz with clang and runs each for SECONDS
# (default 30), one after the other. Stops at the first finding and prints the reproducer:
# run the target on that file to see the report again.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (targets: modinfo modalias grubedit ...)
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${FUZZ_BUILD_DIR:-$TOP/build-fuzz}
SECONDS_EACH=${1:-30}
shift || true
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
    TARGETS=()
    for source in "$TOP"/fuzz/fuzz_*.cpp; do
        name=${source##*/fuzz_}
        TARGETS+=("${name%.cpp}")
    done
fi

LAUNCHER=()
if command -v ccache >/dev/null 2>&1; then
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$TOP")} CCACHE_NOHASHDIR=1
    LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S "$TOP" -B "$BUILD" -DBUILD_FUZZERS=ON -DBUILD_TESTING=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target "${TARGETS[@]/#/fuzz-}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for name in "${TARGETS[@]}"; do
    # The runs grow a corpus of their own; the seeds in the tree stay as they are.
    corpus=$BUILD/corpus/$name
    findings=$BUILD/findings/$name
    mkdir -p "$corpus" "$findings"
    log=$BUILD/findings/$name.log
    echo "fuzz.sh: $name for ${SECONDS_EACH}s"
    status=0
    "$BUILD/bin/fuzz-$name" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$findings/" -print_final_stats=1 "$corpus" "$TOP/fuzz/seeds/$name" >"$log" 2>&1 || status=$?
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)' "$log" | sed "s/^/  /" || true
    if [ "$status" != 0 ]; then
        grep -E 'ERROR|SUMMARY|runtime error|deadly signal' "$log" | head -5 || true
        reproducer=$(grep -oE "Test unit written to [^ ]+" "$log" | tail -1 | sed 's/Test unit written to //')
        echo "fuzz.sh: FINDING in $name; reproducer: ${reproducer:-(none written)}; log: $log" >&2
        echo "fuzz.sh: reproduce with $BUILD/bin/fuzz-$name ${reproducer:-FILE}" >&2
        # A CI machine's files are gone after the run: the input goes into the log as well.
        if [ -n "$reproducer" ] && [ -f "$reproducer" ] && [ "$(stat -c %s "$reproducer")" -le 65536 ]; then
            echo "fuzz.sh: the input, as base64 (base64 -d >FILE):" >&2
            base64 -w 0 "$reproducer" >&2
            echo >&2
        fi
        exit 1
    fi
done
echo "fuzz.sh: no findings in ${TARGETS[*]} (${SECONDS_EACH}s each)"
