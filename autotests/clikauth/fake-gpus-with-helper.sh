#!/bin/bash
# fake-gpus-with-helper.sh STAGE_DIR COMMAND [ARG...]
#
# Runs COMMAND on the made-up machine of harness/gpu-fixture.sh AND against the real privileged
# helper on a private system bus (harness/kauth-fixture-ns.sh + harness/kauth-bus.sh), so the
# command-line tool probes fake adapters and its changes really reach the helper:
#
#   gpu-fixture.sh [ADAPTER OPTIONS...] -- fake-gpus-with-helper.sh STAGE_DIR COMMAND...
#
# The harnesses collide on /usr/lib: on a host without a module tree or X driver folders,
# gpu-fixture.sh lays an overlay on /usr/lib to get their mount points, kauth-fixture-ns.sh lays
# its own overlay on /usr/lib over that, and kauth-bus.sh one more on /usr/lib/kauth/libexec,
# one overlay deeper than the kernel allows. kauth-fixture-ns.sh also puts empty tmpfs on the X
# driver folders and so hides the module tree and X drivers gpu-fixture.sh made. This script
# therefore copies the module tree and the X driver folders into the fixture's own tmpfs,
# unmounts gpu-fixture.sh's /usr/lib mounts, and keeps its working folder on the copy while the
# other two harnesses set up (a working folder survives `unshare` and being mounted over).
# Inside, it binds the copies onto the real paths: helper and tool then see the same X drivers,
# those given with gpu-fixture.sh's --xorg, and the tool the same module tree.
# Everything else the probe needs (/sys, /dev, /proc/bus/pci, /proc/modules, the X logs, the
# pgrep stand-in) lies outside the overlaid folders and stays as gpu-fixture.sh made it.
#
# COMMAND runs as root, in / . Exit status: COMMAND's; 77 (CTest SKIP_RETURN_CODE) when the
# harnesses cannot run here; 1 when the fixture cannot be carried over.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
HARNESS=$(cd "$HERE/../harness" && pwd)
CARRIED="modules x86_64-linux-gnu/xorg/modules/drivers xorg/modules/drivers x86_64-linux-gnu/nvidia/xorg"

if [ "${1:-}" != --inside ]; then
    [ $# -ge 2 ] || { echo "usage: fake-gpus-with-helper.sh STAGE_DIR COMMAND [ARG...]" >&2; exit 2; }
    if [ -z "${GPU_FIXTURE:-}" ]; then
        echo "fake-gpus-with-helper.sh: run me as the command of gpu-fixture.sh" >&2
        exit 2
    fi
    STAGE=$(cd "$1" && pwd) || exit 1
    shift
    CARRY=$GPU_FIXTURE/carried-usr-lib
    for dir in $CARRIED; do
        mkdir -p "$CARRY/$dir"
        if [ -d "/usr/lib/$dir" ]; then cp -a "/usr/lib/$dir/." "$CARRY/$dir/" || exit 1; fi
    done
    # Only an overlay mounted right on /usr/lib stacks too deep; binds below it just go hidden.
    # Lazily: the running shell still maps its libraries from it.
    if [ "$(findmnt -n -M /usr/lib -o FSTYPE)" = overlay ]; then
        /bin/umount -l /usr/lib || { echo "fake-gpus-with-helper.sh: cannot unmount the overlay on /usr/lib" >&2; exit 1; }
    fi
    cd "$CARRY" || exit 1
    exec "$HARNESS/kauth-fixture-ns.sh" "$HARNESS/kauth-bus.sh" "$STAGE" "$HERE/fake-gpus-with-helper.sh" --inside "$@"
fi
shift

fail() {
    echo "fake-gpus-with-helper.sh: $*" >&2
    exit 1
}

# Relative sources are looked up from the working folder, the copy; --no-canonicalize keeps
# mount(8) from turning them into absolute paths, which name nothing here.
for dir in $CARRIED; do
    [ -d "$dir" ] || fail "no copy of /usr/lib/$dir"
    mkdir -p "/usr/lib/$dir" && /bin/mount --no-canonicalize --bind "$dir" "/usr/lib/$dir" || fail "cannot carry /usr/lib/$dir over"
done
# The overlay on /usr/sbin brings back the host's acpidump, which gpu-fixture.sh had silenced.
if [ -e /usr/sbin/acpidump ]; then
    /bin/mount --bind /bin/true /usr/sbin/acpidump || fail "cannot silence acpidump"
fi
cd / || exit 1
"$@"
