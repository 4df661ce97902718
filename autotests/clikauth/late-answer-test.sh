#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The command line against a helper whose answers leave late. KAuth ends a job on the helper's
# "action performed" signal; the answer to the D-Bus call that started the action follows it.
# A client that left main() before that answer had Qt's D-Bus thread, at exit, delete the call
# that KAuth's watcher still held, and the watcher, deleted after it with KAuth's helper proxy,
# wrote into the freed memory ("corrupted double-linked list", SIGABRT). On a normal helper the
# answer follows within a millisecond and the abort came in about one run of fifty; here the
# staged helper is started with lateanswer.so preloaded, which holds every answer back for half
# a second, so every run meets it. Each action that reaches the helper (done, refused by the
# helper, refused by polkit) runs once under valgrind's memcheck, which must find no read or
# write of freed or unowned memory (values it cannot follow through PCRE's generated code are
# not looked at), and several times with glibc's heap checks (MALLOC_CHECK_=3,
# MALLOC_PERTURB_); every run must end with its own exit status, none with a signal, and none
# before the helper's answer was sent (lateanswer.so marks each answer just before it). (The
# freed memory is written only a few bytes' worth: the heap checks catch it now and then,
# memcheck every time.) A sanitizer build leaves memcheck out.
#
# The smallest KAuth client (kauthexit, no code of this project) runs the refused action under
# memcheck too, for comparison: what memcheck finds there is the libraries' own exit path,
# which this client, unlike the command line, does not guard against. It fails nothing.
#
# Usage: late-answer-test.sh BINARY_DIR STAGE_DIR SHIM
#   SHIM  the built lateanswer.so
# Exit: 0 passed, 1 failed, 77 without root (skipped).
set -uo pipefail
. "$(dirname "$0")/shim-arguments.sh"
MALLOC_DEBUG=
for candidate in /lib/x86_64-linux-gnu/libc_malloc_debug.so.0 /usr/lib/x86_64-linux-gnu/libc_malloc_debug.so.0; do
    [ -e "$candidate" ] && { MALLOC_DEBUG=$candidate; break; }
done
VALGRIND=$(command -v valgrind)
[ -n "$VALGRIND" ] || { echo "FAIL: no valgrind here (scripts/install-deps.sh installs it)"; exit 1; }
# A sanitizer build brings its own allocator, which must be the first library loaded, and
# cannot run under memcheck.
if ldd "$BIN_DIR/corvo-admin-driver" | grep libasan >/dev/null; then
    MALLOC_DEBUG= VALGRIND=
fi

# A copy of the staged installation whose helper program starts the real one with the shim.
LATE=$STAGE-lateanswer
rm -rf "$LATE"
cp -a "$STAGE" "$LATE" || exit 1
mv "$LATE/$HELPER" "$LATE/$HELPER.real"
PRELOAD="$(ldd "$STAGE/$HELPER" | awk '/libasan/ {print $3}') $SHIM"
MARK=/tmp/late-answer.mark # inside the made-up machine
printf '#!/bin/sh\nLATE_ANSWER_MARK=%s LD_PRELOAD="%s" exec /%s.real "$@"\n' "$MARK" "${PRELOAD# }" "$HELPER" >"$LATE/$HELPER"
chmod 755 "$LATE/$HELPER"
trap 'rm -rf "$LATE"' EXIT

"$HARNESS/machine-on-bus.sh" "$LATE" \
    --gpu 0000:0b:00.0,10de,1c03,030000,nouveau --alias 'pci:v000010DEd*sv*sd*bc03sc*i* nouveau' \
    --module kernel/drivers/gpu/drm/nouveau/nouveau.ko=nouveau --xorg 1:nouveau_drv.so -- \
    bash -c '
BIN_DIR=$1 MALLOC_DEBUG=$2 VALGRIND=$3 MARK=/tmp/late-answer.mark
ROUNDS=3
failed=0 runs=0
LOGS=$(mktemp -d /tmp/late.XXXXXX)
chmod 777 "$LOGS"
MEMCHECK_LOG=$LOGS/memcheck
show() { tail -n 4 /tmp/late.out | sed "s/^/    /"; }
memcheck() { # expected status, who, command...: one run under memcheck; 0 when it found nothing
    local expected=$1 who=$2 as=() status
    shift 2
    [ -n "$VALGRIND" ] || return 0
    rm -f "$MEMCHECK_LOG"
    [ "$who" = nobody ] && as=(/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups --)
    "${as[@]}" "$VALGRIND" -q --undef-value-errors=no --error-exitcode=99 --log-file="$MEMCHECK_LOG" "$@" >/tmp/late.out 2>&1 </dev/null
    status=$?
    sleep 0.6 # the answer of this run is out before the next one starts
    [ $status = 99 ] && return 1
    [ -z "$expected" ] || [ $status = "$expected" ] || { echo "FAIL ($who under memcheck: ${*:2}): exit status $status, not $expected"; show; failed=1; }
    return 0
}
run() { # expected status, who, command...: one run with the heap checks
    local expected=$1 who=$2 as=() status
    shift 2
    [ "$who" = nobody ] && as=(/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups --)
    rm -f "$MARK"
    env LD_PRELOAD="$MALLOC_DEBUG" MALLOC_CHECK_=3 MALLOC_PERTURB_=$((runs % 255 + 1)) "${as[@]}" "$@" >/tmp/late.out 2>&1 </dev/null
    status=$?
    # Read at once: an answer the client did not wait for is marked half a second later.
    local answered=0
    [ -f "$MARK" ] && answered=$(wc -l <"$MARK")
    # A late answer of this run must not land in the next run'"'"'s mark.
    sleep 0.6
    runs=$((runs + 1))
    if [ "$answered" = 0 ]; then
        echo "FAIL ($who: ${*:2}): ended before the helper had answered the call that started the action"
        failed=1
    fi
    if [ $status -gt 128 ] && [ $status -lt 255 ]; then
        echo "FAIL ($who: ${*:2}): ended with signal $((status - 128))"
        show
        failed=1
    elif [ $status != "$expected" ]; then
        echo "FAIL ($who: ${*:2}): exit status $status, not $expected"
        show
        failed=1
    fi
}
CASES=(
    "0|root|set-module PCI:0b@0000:00:0 nouveau"
    "255|root|set-xorg PCI:0b@0000:00:0 vesa"
    "255|nobody|set-module PCI:0b@0000:00:0 nouveau"
)
for entry in "${CASES[@]}"; do
    IFS="|" read -r expected who action <<<"$entry"
    # shellcheck disable=SC2086 # the action words
    if ! memcheck "$expected" "$who" "$BIN_DIR/corvo-admin-driver" $action; then
        echo "FAIL ($who: $action): memcheck found an access to memory that is not the program'"'"'s:"
        grep -m 1 -A 14 "Invalid\|Mismatched" "$MEMCHECK_LOG" | sed "s/^/    /"
        failed=1
    fi
done
for round in $(seq $ROUNDS); do
    for entry in "${CASES[@]}"; do
        IFS="|" read -r expected who action <<<"$entry"
        # shellcheck disable=SC2086
        run "$expected" "$who" "$BIN_DIR/corvo-admin-driver" $action
    done
done
echo "command line: ${#CASES[@]} runs under memcheck, $runs with the heap checks, against late answers"
if [ -n "$VALGRIND" ]; then
    if memcheck "" root "$BIN_DIR/kauthexit" org.corvo.kcm.videodriver org.corvo.kcm.videodriver.replace \
        driver=vesa modelName=Test busId=PCI:0b@0000:00:0; then
        echo "for comparison, the smallest KAuth client: memcheck found nothing"
    else
        echo "for comparison, the smallest KAuth client: memcheck found $(grep -c "^==[0-9]*== Invalid" "$MEMCHECK_LOG") invalid accesses, the first:"
        grep -m 1 -A 3 "Invalid" "$MEMCHECK_LOG" | sed "s/^/    /"
    fi
fi
exit $failed' late "$BIN_DIR" "$MALLOC_DEBUG" "$VALGRIND"
status=$?
[ $status = 77 ] && exit 77
[ $status = 0 ] && echo "PASS: every action ended with its own status against a helper that answers late"
exit $status
