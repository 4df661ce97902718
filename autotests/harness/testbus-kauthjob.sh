#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs one command against a private D-Bus system bus on which polkit and a staged KAuth test
# helper can be activated, so that KAuth jobs make the real round trip without touching the
# machine's own bus or its installed files.
#
# Usage: testbus-kauthjob.sh --stage DIR [--helper-id ID] [--as-nobody] -- COMMAND [ARGS...]
#
#   --stage DIR    a folder laid out like the root file system that holds the staged files:
#                    DIR/usr/share/polkit-1/actions/     the helper's .policy
#                    DIR/usr/share/dbus-1/system-services/  its D-Bus activation file
#                    DIR/usr/share/dbus-1/system.d/      its D-Bus bus policy
#                  Each of these is laid over the real folder (overlay mount, staged files on
#                  top), so the stock bus configuration and polkit find them.
#   --helper-id ID the helper's bus name; its process is stopped at the end.
#   --as-nobody    run COMMAND as uid/gid 65534 (polkit then refuses actions that need an
#                  administrator, as no authentication agent runs).
#
# Exit status: that of COMMAND; 77 when the bus cannot be set up here (not root, no mount
# namespaces, missing tools) - the reason is printed, and CTest reports the test as skipped
# (in CI, where all of that must be there, 1); 1 when a mount or the bus daemon fails.
#
# How it works: the script re-runs itself inside `unshare -m --propagation private`; there it
# mounts a tmpfs on /run/dbus (the system bus socket's home), makes the overlay mounts, starts
# `dbus-daemon --system`, exports CORVO_TEST_SYSTEM_BUS=1, runs COMMAND and then stops, by
# process id, the helper, polkitd and the bus daemon it started. Every mount ends with the
# namespace.
set -u

. "$(dirname "$0")/skip.sh"
STAGE=""
HELPER_ID=""
AS_NOBODY=0
while [ $# -gt 0 ]; do
    case "$1" in
        --stage) STAGE=$2; shift 2 ;;
        --helper-id) HELPER_ID=$2; shift 2 ;;
        --as-nobody) AS_NOBODY=1; shift ;;
        --) shift; break ;;
        *) echo "testbus-kauthjob.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
if [ -z "$STAGE" ] || [ $# -eq 0 ]; then
    echo "usage: testbus-kauthjob.sh --stage DIR [--helper-id ID] [--as-nobody] -- COMMAND [ARGS...]" >&2
    exit 2
fi

UNSHARE=/usr/bin/unshare
MOUNT=/bin/mount
DBUS_DAEMON=/usr/bin/dbus-daemon
DBUS_SEND=/usr/bin/dbus-send
SETPRIV=/usr/bin/setpriv
TIMEOUT=/usr/bin/timeout
COMMAND_LIMIT=${TESTBUS_COMMAND_LIMIT:-300}

if [ "${TESTBUS_INSIDE:-}" != 1 ]; then
    if [ "$(id -u)" != 0 ]; then
        skip_test "testbus-kauthjob.sh needs root (private mount namespace, a system bus daemon)"
    fi
    for tool in "$UNSHARE" "$MOUNT" "$DBUS_DAEMON" "$DBUS_SEND" "$SETPRIV" "$TIMEOUT" \
                /usr/lib/dbus-1.0/dbus-daemon-launch-helper /usr/lib/polkit-1/polkitd; do
        if [ ! -x "$tool" ]; then
            skip_test "$tool is missing"
        fi
    done
    if ! "$UNSHARE" -m --propagation private /bin/true 2>/dev/null; then
        skip_test "cannot create a private mount namespace here"
    fi
    args=(--stage "$STAGE")
    [ -n "$HELPER_ID" ] && args+=(--helper-id "$HELPER_ID")
    [ "$AS_NOBODY" = 1 ] && args+=(--as-nobody)
    TESTBUS_INSIDE=1 exec "$UNSHARE" -m --propagation private "$0" "${args[@]}" -- "$@"
fi

# ---- inside the private mount namespace ----
overlay() { # overlay <staged folder> <system folder>
    [ -d "$1" ] || return 0
    "$MOUNT" -t overlay overlay -o "lowerdir=$1:$2" "$2" || harness_broken "overlay on $2 failed"
}

"$MOUNT" -t tmpfs -o mode=0755 tmpfs /run/dbus || harness_broken "tmpfs on /run/dbus failed"
overlay "$STAGE/usr/share/polkit-1/actions" /usr/share/polkit-1/actions
overlay "$STAGE/usr/share/dbus-1/system-services" /usr/share/dbus-1/system-services
overlay "$STAGE/usr/share/dbus-1/system.d" /usr/share/dbus-1/system.d

DBUS_PID=$("$DBUS_DAEMON" --system --fork --print-pid --nosyslog) || harness_broken "dbus-daemon did not start"
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/run/dbus/system_bus_socket
export CORVO_TEST_SYSTEM_BUS=1

bus_pid() {
    "$DBUS_SEND" --system --print-reply=literal --reply-timeout=2000 --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.GetConnectionUnixProcessID "string:$1" 2>/dev/null | awk '{print $2}'
}
cleanup() {
    local name pid
    for name in $HELPER_ID org.freedesktop.PolicyKit1; do
        pid=$(bus_pid "$name")
        [ -n "$pid" ] && kill "$pid" 2>/dev/null
    done
    kill "$DBUS_PID" 2>/dev/null
}
trap cleanup EXIT

if [ "$AS_NOBODY" = 1 ]; then
    "$TIMEOUT" "$COMMAND_LIMIT" "$SETPRIV" --reuid=65534 --regid=65534 --clear-groups -- "$@"
else
    "$TIMEOUT" "$COMMAND_LIMIT" "$@"
fi
