#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# kauth-fixture-ns.sh COMMAND [ARG...]
#
# Runs COMMAND as root in a throw-away private mount namespace in which every place the
# privileged helper writes to is a fixture, so the helper's code runs unchanged on its real
# paths and the host is never touched:
#   /tmp, /etc/X11/xorg.conf.d, /etc/default, /etc/modprobe.d    empty tmpfs
#   /usr/share, /usr/lib, /usr/sbin, /etc, /run                   overlays over the host's folders;
#                                                                 writes land in a tmpfs and vanish
#   the X driver folders /usr/lib/x86_64-linux-gnu/xorg/modules/drivers, /usr/lib/xorg/modules/drivers
#   and /usr/lib/x86_64-linux-gnu/nvidia/xorg                     empty tmpfs (tests put *_drv.so files in)
# COMMAND fills the fixtures itself (it is root inside), e.g. writes /usr/sbin/update-grub.
# The exit status is COMMAND's. Without root (or without the right to unshare) it prints why and
# exits 77, which CTest reports as a skipped test (SKIP_RETURN_CODE 77).
set -u
. "$(dirname "$0")/skip.sh"
# The multiarch triplet the build put into its X driver folders (x86_64-linux-gnu on amd64).
MULTIARCH=${CORVO_MULTIARCH:-$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)}

if [ "${KAUTH_FIXTURE_INSIDE:-}" != 1 ]; then
    if [ "$(id -u)" != 0 ]; then
        skip_test "kauth-fixture-ns.sh needs root for a private mount namespace"
    fi
    if ! /usr/bin/unshare -m --propagation private /bin/true 2>/dev/null; then
        skip_test "cannot create a private mount namespace here"
    fi
    KAUTH_FIXTURE_INSIDE=1 exec /usr/bin/unshare -m --propagation private "$0" "$@"
fi
unset KAUTH_FIXTURE_INSIDE

fail() {
    echo "kauth-fixture-ns.sh: $*" >&2
    exit 1
}

# The project may live anywhere, a CI clone in /tmp or /mnt included: the scratch tmpfs goes
# on the first of these folders that does not hold it, and whatever of the old /tmp the
# command needs (the project, absolute paths among its arguments) is bound back, read-only,
# after /tmp has been emptied: tests empty the fixture /tmp between cases, and must never
# reach through it into the host's files.
TOP=$(cd "$(dirname "$0")/../.." && pwd)
SCRATCH=
for candidate in /mnt /media /srv /opt; do
    case "$TOP/" in "$candidate"/*) continue ;; esac
    [ -d "$candidate" ] && { SCRATCH=$candidate; break; }
done
[ -n "$SCRATCH" ] || fail "no folder for the scratch tmpfs"
mount -t tmpfs -o mode=0755 kauth-fixture "$SCRATCH" || fail "cannot mount the scratch tmpfs"
mkdir -p "$SCRATCH/oldtmp" && mount --bind /tmp "$SCRATCH/oldtmp" || fail "cannot keep the old /tmp reachable"
KEEP=()
for path in "$TOP" "$@"; do
    case "$path" in /tmp/?*) KEEP+=("$(echo "$path" | cut -d/ -f3)") ;; esac
done
for dir in /etc /usr/share /usr/lib /usr/sbin /run; do
    name=$(echo "$dir" | tr / _)
    mkdir -p "$SCRATCH/upper$name" "$SCRATCH/work$name"
    mount -t overlay overlay -o "lowerdir=$dir,upperdir=$SCRATCH/upper$name,workdir=$SCRATCH/work$name" "$dir" \
        || fail "cannot overlay $dir"
done
for dir in /tmp /etc/X11/xorg.conf.d /etc/default /etc/modprobe.d \
    /usr/lib/$MULTIARCH/xorg/modules/drivers /usr/lib/xorg/modules/drivers /usr/lib/$MULTIARCH/nvidia/xorg; do
    mkdir -p "$dir" && mount -t tmpfs -o mode=0755 kauth-fixture "$dir" || fail "cannot mount a tmpfs on $dir"
done
chmod 1777 /tmp
for entry in ${KEEP[@]+"${KEEP[@]}"}; do
    [ -e "/tmp/$entry" ] && continue
    if [ -d "$SCRATCH/oldtmp/$entry" ]; then
        mkdir -p "/tmp/$entry"
    else
        touch "/tmp/$entry"
    fi
    mount --bind "$SCRATCH/oldtmp/$entry" "/tmp/$entry" && mount -o remount,bind,ro "/tmp/$entry" \
        || fail "cannot keep /tmp/$entry reachable"
done

exec "$@"
