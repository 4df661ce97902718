#!/bin/bash
# Runs a command in a private environment where real QApt transactions work without touching
# the host: a private mount namespace, a private D-Bus system bus, the real QApt worker
# (/usr/bin/qaptworker3, package libqapt3-runtime) activated on that bus against a fixture APT
# universe, a fake polkit authority that allows everything, and a fake dpkg that only logs.
#
# Usage: apt-transaction.sh FAKE-POLKIT COMMAND [ARGS...]
#   FAKE-POLKIT  the fakepolkitauthority program built from autotests/apt (append --deny by
#                setting APT_TXN_POLKIT_DENY=1 to make every authorisation fail)
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
# The fixture's dpkg/info folder is bind-mounted over /var/lib/dpkg/info (QApt's
# packageForFile() reads it directly).
#
# A root helper under test (for example a KAuth helper that commits a QApt transaction) is
# started by COMMAND itself, or D-Bus-activated if COMMAND installs a .service file into
# "$APT_TXN_DIR/services" before it is needed.
#
# Exit status: COMMAND's; 77 when no private mount namespace can be created (not root and no
# user namespaces): register it as SKIP_RETURN_CODE 77 in CTest; 1 on a setup failure.
set -euo pipefail

SKIP=77
HERE=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" != "--inside" ]; then
    if [ $# -lt 2 ]; then
        echo "usage: $0 FAKE-POLKIT COMMAND [ARGS...]" >&2
        exit 1
    fi
    if [ "$(id -u)" = 0 ]; then
        exec /usr/bin/unshare -m --propagation private "$0" --inside "$@"
    fi
    if /usr/bin/unshare -r -m /bin/true 2>/dev/null; then
        exec /usr/bin/unshare -r -m --propagation private "$0" --inside "$@"
    fi
    echo "apt-transaction.sh: SKIP: needs root or user namespaces for a private mount namespace" >&2
    exit $SKIP
fi
shift
FAKE_POLKIT=$1
shift

WORK=$(mktemp -d /tmp/apt-transaction.XXXXXX)
# Everything below stays in this namespace and vanishes with it.
mount -t tmpfs -o mode=0755 tmpfs "$WORK"
PIDS=()
cleanup() {
    local rc=$?
    [ -s "$WORK/worker.pid" ] && PIDS+=("$(cat "$WORK/worker.pid")")
    for pid in "${PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    umount -l "$WORK" 2>/dev/null || true
    rmdir "$WORK" 2>/dev/null || true
    exit $rc
}
trap cleanup EXIT

mkdir -p "$WORK/apt" "$WORK/services"
export APT_TXN_DIR=$WORK
export APT_TXN_DPKG_LOG=$WORK/dpkg.log
: > "$APT_TXN_DPKG_LOG"

# The fake dpkg: logs its arguments (and, for --set-selections, the selections apt feeds it on
# standard input, as "dpkg-stdin LINE") and succeeds, changing nothing.
cat > "$WORK/fake-dpkg" <<DPKG
#!/bin/sh
echo "dpkg \$*" >> "$APT_TXN_DPKG_LOG"
case " \$* " in
    *" --set-selections "*) sed 's/^/dpkg-stdin /' >> "$APT_TXN_DPKG_LOG" ;;
esac
exit 0
DPKG
chmod 755 "$WORK/fake-dpkg"

APT_FIXTURE_DPKG="$WORK/fake-dpkg" "$HERE/apt-fixture.sh" --with-debs "$WORK/apt"
export APT_CONFIG=$WORK/apt/apt.conf
mount --bind "$WORK/apt/state/dpkg/info" /var/lib/dpkg/info

if [ -d /run/dbus ]; then
    mount -t tmpfs -o mode=0755 tmpfs /run/dbus
    SOCKET=/run/dbus/system_bus_socket
else
    SOCKET=$WORK/system_bus_socket
fi
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$SOCKET

# The worker is activated on demand with the fixture configuration; the wrapper records its pid
# so that it can be stopped at the end.
cat > "$WORK/qaptworker3-wrapper" <<WRAP
#!/bin/sh
echo \$\$ > "$WORK/worker.pid"
export APT_CONFIG="$APT_CONFIG"
export DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SYSTEM_BUS_ADDRESS"
exec /usr/bin/qaptworker3 >> "$WORK/worker.log" 2>&1
WRAP
chmod 755 "$WORK/qaptworker3-wrapper"
cat > "$WORK/services/org.kubuntu.qaptworker3.service" <<SERVICE
[D-BUS Service]
Name=org.kubuntu.qaptworker3
Exec=$WORK/qaptworker3-wrapper
SERVICE

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

set +e
/usr/bin/timeout "${APT_TXN_TIMEOUT:-120}" "$@"
rc=$?
set -e
if [ $rc != 0 ] && [ -s "$WORK/worker.log" ]; then
    echo "--- qaptworker3 log:" >&2
    cat "$WORK/worker.log" >&2
fi
exit $rc
