#!/bin/bash
# run-with-fake-gpus.sh "GPU..." COMMAND [ARGS...]
# Runs COMMAND in a private mount namespace in which the hardware probe sees only the named
# fake adapters (see make-fake-sysfs.sh), the test owns /etc/default, /var/log and a writable
# layer over /dev, and no system bus can be reached. Nothing outside the namespace changes.
# Exits 77 (reported as skipped) when no private mount namespace can be had.
set -euo pipefail
GPUS=${1:?usage: run-with-fake-gpus.sh "GPU..." COMMAND [ARGS...]}
shift
HERE=$(cd "$(dirname "$0")" && pwd)

if [ "${CORVO_FAKE_GPU_NAMESPACE:-}" != 1 ]; then
    export CORVO_FAKE_GPU_NAMESPACE=1
    if [ "$(id -u)" = 0 ]; then
        exec /usr/bin/unshare -m --propagation private "$0" "$GPUS" "$@"
    fi
    if /usr/bin/unshare -r -m /bin/true 2>/dev/null; then
        exec /usr/bin/unshare -r -m --propagation private "$0" "$GPUS" "$@"
    fi
    echo "SKIP: neither root nor user namespaces: cannot make a private mount namespace"
    exit 77
fi

# --- inside the private mount namespace ---
SCRATCH=$(mktemp -d /tmp/corvo-fake-gpus.XXXXXX)
/bin/mount -t tmpfs -o size=8m corvo-test-scratch "$SCRATCH"
# shellcheck disable=SC2086
"$HERE/make-fake-sysfs.sh" "$SCRATCH" $GPUS
/bin/mount --bind "$SCRATCH/sys" /sys
[ -d /proc/bus/pci ] && /bin/mount -t tmpfs -o size=64k corvo-test-procpci /proc/bus/pci
# libhd asks these about the host's real hardware; here they must say nothing.
for tool in /usr/bin/udevadm /bin/udevadm /usr/sbin/acpidump; do
    if [ -e "$tool" ] && [ ! -L "$tool" ]; then /bin/mount --bind /bin/true "$tool"; fi
done
if [ -c /dev/mem ]; then /bin/mount --bind /dev/null /dev/mem; fi

# libhd falls back on the kernel's alias list for the module names; the host has no module
# tree, so an overlay on /usr/lib brings one with only that list.
KVER=$(/bin/uname -r)
mkdir -p "$SCRATCH/usrlib-upper/modules/$KVER" "$SCRATCH/usrlib-work"
cp "$HERE/fixtures/modules.alias" "$SCRATCH/usrlib-upper/modules/$KVER/modules.alias"
: >"$SCRATCH/usrlib-upper/modules/$KVER/modules.dep"
/bin/mount -t overlay corvo-test-usrlib -o "lowerdir=/usr/lib,upperdir=$SCRATCH/usrlib-upper,workdir=$SCRATCH/usrlib-work" /usr/lib

# A writable layer over /dev for the DRM links the tests lay, and own X log and defaults folders.
mkdir -p "$SCRATCH/dev-upper" "$SCRATCH/dev-work"
/bin/mount -t overlay corvo-test-dev -o "lowerdir=/dev,upperdir=$SCRATCH/dev-upper,workdir=$SCRATCH/dev-work" /dev
/bin/mount -t tmpfs -o size=1m,mode=755 corvo-test-var-log /var/log
/bin/mount -t tmpfs -o size=1m,mode=755 corvo-test-etc-default /etc/default

# No system bus: the privileged helper is out of reach, so the tool's requests fail fast.
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$SCRATCH/no-system-bus
export CORVO_FAKE_GPUS="$GPUS"
unset CORVO_FAKE_GPU_NAMESPACE
exec "$@"
