#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# benchmark-history.sh: how long the benchmark history page takes on a long history. A
# benchmark, not a test: it prints figures and never fails on them.
#
#   scripts/benchmark-history.sh [RUNS] [ROWS]     (default 7 runs, 100000 stored runs)
#
# Each run of build/bin/history-timing (offscreen, its own temporary SQLite store filled in one
# transaction) times: the page built (every row read, sorted newest first), the table shown,
# the chart's bars made and aggregated, the chart drawn, and the sum of these
# ("filled-and-drawn", aim: under 1000 ms); then the chart with every entry, the redraw after a
# new run is stored, and a search. Last, the chart's aggregation alone on ROWS and on 2 x ROWS
# bars (fastest of 7 each) and their ratio (aim: at most 2.2, linear). Prints the median and
# the minimum of each phase over RUNS runs, with the load average: on a machine shared with
# other builds the minimum is the better estimate of the page's own cost.
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
RUNS=${1:-7}
ROWS=${2:-100000}
BUILD=${BUILD_DIR:-$TOP/build}
TIMING=$BUILD/bin/history-timing
[ -x "$TIMING" ] || { echo "benchmark-history.sh: $TIMING is missing; build the tests first" >&2; exit 1; }

OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) processors"
for i in $(seq "$RUNS"); do
    QT_QPA_PLATFORM=offscreen "$TIMING" "$ROWS" >"$OUT/run.$i" 2>"$OUT/err.$i" ||
        { echo "benchmark-history.sh: run $i failed:" >&2; cat "$OUT/err.$i" >&2; exit 1; }
done

printf '%-20s %12s %12s   (%d runs, %d stored runs)\n' phase "median ms" "min ms" "$RUNS" "$ROWS"
for phase in page-built table-shown chart-bars chart-drawn filled-and-drawn all-entries-drawn new-run-redrawn search-filtered; do
    grep -h "^$phase " "$OUT"/run.* | cut -d' ' -f2 | sort -n >"$OUT/$phase"
    awk -v name="$phase" '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%-20s %12.1f %12.1f\n", name, m, v[1] }' "$OUT/$phase"
done
echo
printf '%-20s %12s %12s %8s   (median of the runs)\n' aggregation "${ROWS} bars" "2x bars" ratio
for mode in Average Median Maximum; do
    grep -h "^aggregate-$mode " "$OUT"/run.* >"$OUT/agg.$mode"
    for column in 2 3 4; do
        cut -d' ' -f$column "$OUT/agg.$mode" | sort -n | awk '{ v[NR] = $1 } END { printf "%s ", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
    done | awk -v name="$mode" '{ printf "%-20s %12.2f %12.2f %8.2f\n", name, $1, $2, $3 }'
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
