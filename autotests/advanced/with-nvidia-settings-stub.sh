#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# with-nvidia-settings-stub.sh SECONDS COMMAND [ARG...]
# Runs COMMAND in a private mount namespace in which /usr/bin/nvidia-settings is a stand-in that
# waits SECONDS and then answers the CurrentMetaMode query as a driver with
# ForceFullCompositionPipeline on would. /usr/bin is an overlay whose writes vanish with the
# namespace; the host is never touched. Needs root; otherwise skipped (harness/skip.sh).
set -u
. "$(dirname "$0")/../harness/skip.sh"
if [ "${NV_STUB_INSIDE:-}" != 1 ]; then
    [ "$(id -u)" = 0 ] || skip_test "needs root for a private mount namespace"
    /usr/bin/unshare -m --propagation private /bin/true 2>/dev/null || skip_test "no private mount namespace here"
    NV_STUB_INSIDE=1 exec /usr/bin/unshare -m --propagation private "$0" "$@"
fi
unset NV_STUB_INSIDE
seconds=$1
shift
scratch=$(mktemp -d /tmp/nv-stub.XXXXXX)
mount -t tmpfs nv-stub "$scratch" || harness_broken "cannot mount a tmpfs on $scratch"
mkdir -p "$scratch/upper" "$scratch/work"
mount -t overlay overlay -o "lowerdir=/usr/bin,upperdir=$scratch/upper,workdir=$scratch/work" /usr/bin ||
    harness_broken "cannot lay an overlay over /usr/bin"
cat >/usr/bin/nvidia-settings <<STUB
#!/bin/sh
sleep $seconds
echo "  Attribute 'CurrentMetaMode' (host:0.0): id=50, switchable=no, source=nv-control :: DPY-1: nvidia-auto-select @1920x1080 +0+0 {ViewPortIn=1920x1080, ViewPortOut=1920x1080+0+0, ForceFullCompositionPipeline=On}"
STUB
chmod 755 /usr/bin/nvidia-settings
"$@"
status=$?
umount /usr/bin
umount "$scratch"
rmdir "$scratch"
exit $status
