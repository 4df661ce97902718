#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# kauth-bus.sh STAGE_DIR COMMAND [ARG...]
#
# Runs COMMAND against a private D-Bus system bus with polkit and the real KAuth helper, inside
# a throw-away private mount namespace (nothing on the host changes):
#   - STAGE_DIR is a staged installation (DESTDIR of `cmake --install`, prefix /usr, as made by
#     scripts/build.sh in build/stage). Its polkit actions, D-Bus system services, D-Bus bus
#     policies and KAuth helpers are overlaid on /usr/share/polkit-1/actions,
#     /usr/share/dbus-1/system-services, /usr/share/dbus-1/system.d and /usr/lib/kauth/libexec.
#   - /run/dbus is a private tmpfs; the stock system bus configuration is used, so the helper is
#     activated as root through dbus-daemon-launch-helper, and polkitd is activated on demand.
#   - COMMAND runs as root with DBUS_SYSTEM_BUS_ADDRESS set; to act as an unprivileged caller
#     it can drop to another uid itself (e.g. /usr/bin/setpriv --reuid=65534 ...).
#   - When it ends, the helper, polkitd and the bus are stopped (by their pids).
# Combine with the fixture namespace to keep the helper's writes away from the host:
#   kauth-fixture-ns.sh kauth-bus.sh STAGE_DIR COMMAND...
# Exit status: COMMAND's; 77 (CTest SKIP_RETURN_CODE) without root or without dbus-daemon/polkitd.
# Set KAUTH_BUS_LOG=<file> to keep the bus daemon's diagnostics.
set -u
. "$(dirname "$0")/skip.sh"

if [ "${KAUTH_BUS_INSIDE:-}" != 1 ]; then
    if [ "$(id -u)" != 0 ]; then
        skip_test "kauth-bus.sh needs root for a private mount namespace and system bus"
    fi
    for tool in /usr/bin/dbus-daemon /usr/lib/polkit-1/polkitd /usr/bin/unshare; do
        [ -x "$tool" ] || skip_test "$tool is missing"
    done
    [ $# -ge 2 ] || { echo "usage: kauth-bus.sh STAGE_DIR COMMAND [ARG...]" >&2; exit 2; }
    KAUTH_BUS_INSIDE=1 exec /usr/bin/unshare -m --propagation private "$0" "$@"
fi
unset KAUTH_BUS_INSIDE

STAGE=$(cd "$1" && pwd) || exit 1
shift

fail() {
    echo "kauth-bus.sh: $*" >&2
    exit 1
}

# Lower layers only: the staged files win over the host's, nothing is written.
overlay() {
    [ -d "$STAGE$1" ] || return 0
    mkdir -p "$1" && mount -t overlay overlay -o "lowerdir=$STAGE$1:$1" "$1" || fail "cannot overlay $1"
}

mount -t tmpfs -o mode=0755 kauth-bus /run/dbus 2>/dev/null \
    || { mkdir -p /run/dbus && mount -t tmpfs -o mode=0755 kauth-bus /run/dbus; } || fail "cannot mount /run/dbus"
for dir in /usr/share/polkit-1/actions /usr/share/dbus-1/system-services /usr/share/dbus-1/system.d /usr/lib/kauth/libexec; do
    overlay "$dir"
done

LOG=${KAUTH_BUS_LOG:-/dev/null}
BUS_PID=$(DBUS_DEBUG_OUTPUT=1 /usr/bin/dbus-daemon --system --fork --print-pid --nosyslog 2>>"$LOG") \
    || fail "the system bus did not start"
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/run/dbus/system_bus_socket

pid_of_name() {
    /usr/bin/dbus-send --system --print-reply=literal --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.GetConnectionUnixProcessID "string:$1" 2>/dev/null | awk '{print $2}'
}

stop_all() {
    local pid
    for service in /usr/share/dbus-1/system-services/*.service; do
        name=$(sed -n 's/^Name=//p' "$service")
        case "$name" in
        org.freedesktop.PolicyKit1) ;;
        *) [ -f "$STAGE/usr/share/dbus-1/system-services/$(basename "$service")" ] || continue ;;
        esac
        pid=$(pid_of_name "$name")
        [ -n "$pid" ] && kill "$pid" 2>/dev/null
    done
    kill "$BUS_PID" 2>/dev/null
}
trap stop_all EXIT

"$@"
