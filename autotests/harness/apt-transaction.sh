#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs a command in a private environment where real QApt transactions work without touching
# the host: a private mount namespace, a private D-Bus system bus, the real QApt worker
# (/usr/bin/qaptworker3, package libqapt3-runtime) activated on that bus against a fixture APT
# universe, a fake polkit authority that allows everything, and a fake dpkg that only logs.
#
# Usage: apt-transaction.sh FAKE-POLKIT COMMAND [ARGS...]
#        apt-transaction.sh --kauth STAGE COMMAND [ARGS...]
#   FAKE-POLKIT  the fakepolkitauthority program built from autotests/apt (append --deny by
#                setting APT_TXN_POLKIT_DENY=1 to make every authorisation fail)
#   --kauth STAGE  instead of the fake authority, the real polkitd is activated on the bus, and
#                the KAuth helpers of the staged installation STAGE (as scripts/build.sh makes in
#                build/stage) become activatable with the environment below (APT_CONFIG
#                included), so that a KAuth client can drive a helper that commits QApt
#                transactions. STAGE's polkit actions and KAuth helpers are overlaid (lower
#                layers only) on /usr/share/polkit-1/actions and /usr/lib/kauth/libexec; the
#                bus gets a test-only .service file for each of STAGE's system services whose
#                Exec wraps the staged program; nothing of STAGE is installed. Every helper
#                writes its output to "$APT_TXN_DIR/<service name>.log". Combine with
#                kauth-fixture-ns.sh to keep the helper's own writes off the host.
#                With APT_TXN_HELPER_PRELOAD set, the staged helpers start with that library
#                preloaded (after a sanitizer runtime the helper links), for example the
#                slowregistration shim that makes a starting helper miss its first call.
#   COMMAND      runs as root inside the environment, with at most APT_TXN_TIMEOUT seconds
#                (default 120); its exit status is the script's.
#
# COMMAND finds in its environment:
#   DBUS_SYSTEM_BUS_ADDRESS  the private system bus; when /run/dbus exists on the host, a tmpfs
#                            is mounted over it and the bus also listens on the standard
#                            /run/dbus/system_bus_socket, so code using the default address
#                            (KAuth helpers, QApt clients) reaches it unchanged
#   APT_CONFIG               the fixture universe (see apt-fixture.sh; built --with-debs, the
#                            installed set from APT_FIXTURE_INSTALLED as there)
#   APT_TXN_DPKG_LOG         the fake dpkg's log: one line per call, "dpkg ARGS...", followed for
#                            --set-selections by "dpkg-stdin PACKAGE SELECTION" lines; truncate
#                            it between transactions and assert on it
#   APT_TXN_DIR              the environment's scratch folder (worker.log, bus.log, polkit.log)
#   APT_TXN_DPKG_HOLD        a path in APT_TXN_DIR; while a file exists there, every call of the
#                            fake dpkg waits (it has logged its arguments already), so a test
#                            can keep a transaction running; remove the file to let it go on
#   APT_TXN_DPKG_FAIL        a path in APT_TXN_DIR; while a file exists there, every call of the
#                            fake dpkg fails (exit status 2, as dpkg's on an error) once logged
# The fixture's dpkg/info folder is bind-mounted over /var/lib/dpkg/info (QApt's
# packageForFile() reads it directly). /var/lib/apt/lists is an empty private tmpfs, so the APT
# lists lock there is the environment's own: processes of the host or of other environments
# holding their lock file are never seen by "fuser /var/lib/apt/lists/lock" inside.
#
# A root helper under test (for example a KAuth helper that commits a QApt transaction) is
# started by COMMAND itself, or D-Bus-activated if COMMAND installs a .service file into
# "$APT_TXN_DIR/services" before it is needed.
#
# Exit status: COMMAND's; 77 when no private mount namespace can be created (not root and no
# user namespaces): register it as SKIP_RETURN_CODE 77 in CTest; 1 on a setup failure.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/skip.sh"

if [ "${1:-}" != "--inside" ]; then
    if [ $# -lt 2 ] || { [ "$1" = --kauth ] && [ $# -lt 3 ]; }; then
        echo "usage: $0 FAKE-POLKIT COMMAND [ARGS...]" >&2
        echo "       $0 --kauth STAGE COMMAND [ARGS...]" >&2
        exit 1
    fi
    if [ "$(id -u)" = 0 ]; then
        exec /usr/bin/unshare -m --propagation private "$0" --inside "$@"
    fi
    if /usr/bin/unshare -r -m /bin/true 2>/dev/null; then
        exec /usr/bin/unshare -r -m --propagation private "$0" --inside "$@"
    fi
    skip_test "apt-transaction.sh needs root or user namespaces for a private mount namespace"
fi
shift
FAKE_POLKIT=
KAUTH_STAGE=
if [ "$1" = --kauth ]; then
    KAUTH_STAGE=$(cd "$2" && pwd)
    shift 2
else
    FAKE_POLKIT=$1
    shift
fi

WORK=$(mktemp -d /tmp/apt-transaction.XXXXXX)
# Everything below stays in this namespace and vanishes with it.
mount -t tmpfs -o mode=0755 tmpfs "$WORK"
PIDS=()
cleanup() {
    local rc=$?
    local file
    # Activated services first (they recorded their pids), the bus last.
    for file in "$WORK"/pids/*.pid; do
        [ -s "$file" ] && kill "$(cat "$file")" 2>/dev/null
    done
    for pid in "${PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    umount -l "$WORK" 2>/dev/null || true
    rmdir "$WORK" 2>/dev/null || true
    exit $rc
}
trap cleanup EXIT

mkdir -p "$WORK/apt" "$WORK/services" "$WORK/pids"
export APT_TXN_DIR=$WORK
export APT_TXN_DPKG_LOG=$WORK/dpkg.log
export APT_TXN_DPKG_HOLD=$WORK/dpkg.hold
export APT_TXN_DPKG_FAIL=$WORK/dpkg.fail
: > "$APT_TXN_DPKG_LOG"

# The fake dpkg: logs its arguments (and, for --set-selections, the selections apt feeds it on
# standard input, as "dpkg-stdin LINE") and succeeds, changing nothing, unless told to fail.
cat > "$WORK/fake-dpkg" <<DPKG
#!/bin/sh
echo "dpkg \$*" >> "$APT_TXN_DPKG_LOG"
case " \$* " in
    *" --set-selections "*) sed 's/^/dpkg-stdin /' >> "$APT_TXN_DPKG_LOG" ;;
esac
while [ -e "$APT_TXN_DPKG_HOLD" ]; do
    sleep 0.1
done
if [ -e "$APT_TXN_DPKG_FAIL" ]; then
    echo "dpkg: error: the fixture refuses this call" >&2
    exit 2
fi
exit 0
DPKG
chmod 755 "$WORK/fake-dpkg"

APT_FIXTURE_DPKG="$WORK/fake-dpkg" "$HERE/apt-fixture.sh" --with-debs "$WORK/apt"
export APT_CONFIG=$WORK/apt/apt.conf
mount --bind "$WORK/apt/state/dpkg/info" /var/lib/dpkg/info
mkdir -p /var/lib/apt/lists
mount -t tmpfs -o mode=0755 tmpfs /var/lib/apt/lists

if [ -d /run/dbus ]; then
    mount -t tmpfs -o mode=0755 tmpfs /run/dbus
    SOCKET=/run/dbus/system_bus_socket
else
    SOCKET=$WORK/system_bus_socket
fi
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$SOCKET

# activatable NAME LOG EXEC-LINE [PRELOAD]: a service that the bus starts on demand with the
# fixture configuration; its wrapper records the pid so that it can be stopped at the end.
activatable() {
    local preload=
    [ -n "${4:-}" ] && preload="export LD_PRELOAD=\"$4\""
    cat > "$WORK/$1-wrapper" <<WRAP
#!/bin/sh
echo \$\$ > "$WORK/pids/$1.pid"
export APT_CONFIG="$APT_CONFIG"
export DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SYSTEM_BUS_ADDRESS"
$preload
exec $3 >> "$2" 2>&1
WRAP
    chmod 755 "$WORK/$1-wrapper"
    printf '[D-BUS Service]\nName=%s\nExec=%s\n' "$1" "$WORK/$1-wrapper" > "$WORK/services/$1.service"
}
activatable org.kubuntu.qaptworker3 "$WORK/worker.log" /usr/bin/qaptworker3

if [ -n "$KAUTH_STAGE" ]; then
    for dir in /usr/share/polkit-1/actions /usr/lib/kauth/libexec; do
        [ -d "$KAUTH_STAGE$dir" ] || continue
        mkdir -p "$dir"
        mount -t overlay overlay -o "lowerdir=$KAUTH_STAGE$dir:$dir" "$dir"
    done
    for service in "$KAUTH_STAGE"/usr/share/dbus-1/system-services/*.service; do
        [ -f "$service" ] || continue
        name=$(sed -n 's/^Name=//p' "$service")
        program=$(sed -n 's/^Exec=//p' "$service")
        preload=
        if [ -n "${APT_TXN_HELPER_PRELOAD:-}" ]; then
            preload="$(ldd "$KAUTH_STAGE$program" 2>/dev/null | awk '/libasan/ {print $3}') $APT_TXN_HELPER_PRELOAD"
            preload=${preload# }
        fi
        activatable "$name" "$WORK/$name.log" "$program" "$preload"
    done
    activatable org.freedesktop.PolicyKit1 "$WORK/polkit.log" "/usr/lib/polkit-1/polkitd --no-debug"
fi

cat > "$WORK/bus.conf" <<BUS
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$SOCKET</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$WORK/services</servicedir>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
BUS

BUS_PID=$(/usr/bin/dbus-daemon --config-file="$WORK/bus.conf" --fork --print-pid 2>"$WORK/bus.log")
PIDS+=("$BUS_PID")

if [ -n "$FAKE_POLKIT" ]; then
    POLKIT_ARGS=()
    [ "${APT_TXN_POLKIT_DENY:-0}" = 1 ] && POLKIT_ARGS+=(--deny)
    "$FAKE_POLKIT" "${POLKIT_ARGS[@]}" > "$WORK/polkit.ready" 2> "$WORK/polkit.log" &
    PIDS+=("$!")
    for _ in $(seq 100); do
        grep -q '^ready$' "$WORK/polkit.ready" 2>/dev/null && break
        sleep 0.05
    done
    if ! grep -q '^ready$' "$WORK/polkit.ready"; then
        echo "apt-transaction.sh: the fake polkit authority did not start:" >&2
        cat "$WORK/polkit.log" >&2
        exit 1
    fi
fi

set +e
/usr/bin/timeout "${APT_TXN_TIMEOUT:-120}" "$@"
rc=$?
set -e
if [ $rc != 0 ]; then
    for log in "$WORK"/*.log; do
        case "$log" in */dpkg.log|*/bus.log) continue ;; esac
        [ -s "$log" ] || continue
        echo "--- $(basename "$log"):" >&2
        cat "$log" >&2
    done
fi
exit $rc
