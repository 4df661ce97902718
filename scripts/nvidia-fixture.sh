#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# nvidia-fixture.sh: builds Debian's NVIDIA kernel modules once and writes the small extract the
# tests use (autotests/fixtures/nvidia-current/). Run by hand, as root, when Debian's driver
# version moves; not part of the test run (the build takes many minutes).
#
# Usage: scripts/nvidia-fixture.sh [WORK_DIR]      (default /tmp/corvo-nvidia; kept between runs)
#
# What it does, changing nothing on the host:
#   1. a private APT configuration in WORK_DIR (its own sources with Debian 12's non-free
#      component, lists and cache) fetches the lists and, with apt-get download, the packages
#      nvidia-kernel-dkms (the module source under /usr/src/nvidia-current-<version>), the
#      headers of the kernel that linux-image-amd64 names (linux-headers-<release>,
#      linux-headers-<release>-common and linux-kbuild-<series>), which dpkg -x unpacks into
#      WORK_DIR/root;
#   2. builds the modules with kbuild against those headers (no GPU needed), the way the
#      package's dkms.conf does (nvidia.ko, nvidia-modeset.ko, nvidia-drm.ko, nvidia-uvm.ko),
#      and names them as dkms installs them: nvidia-current.ko, nvidia-current-modeset.ko,
#      nvidia-current-drm.ko and nvidia-current-uvm.ko;
#   3. writes into autotests/fixtures/nvidia-current/, for each module, an ELF object holding
#      only its .modinfo section (objcopy), its alias lines ("alias PATTERN NAME" as depmod
#      writes them into modules.alias) and modinfo's output for reference, plus the versions.
# The test harness (autotests/harness/gpu-fixture.sh --debian-nvidia) puts the objects at
# updates/dkms/, where dkms installs the real ones. The build took 24 minutes on 2 shared cores.
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
WORK=${1:-/tmp/corvo-nvidia}
OUT=$TOP/autotests/fixtures/nvidia-current
MODULES=(nvidia-current nvidia-current-modeset nvidia-current-drm nvidia-current-uvm)

[ "$(id -u)" = 0 ] || { echo "nvidia-fixture.sh: needs root (apt-get, dpkg -x of root-owned files)" >&2; exit 1; }
mkdir -p "$WORK/etc/apt/preferences.d" "$WORK/etc/apt/apt.conf.d" "$WORK/lists/partial" "$WORK/cache/archives/partial" "$WORK/debs"

# ---- 1. the packages, through a private APT configuration ----
cat >"$WORK/etc/apt/sources.list" <<'EOF'
deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main non-free
deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian-security bookworm-security main non-free
EOF
cat >"$WORK/apt.conf" <<EOF
Dir::Etc "$WORK/etc/apt";
Dir::State::Lists "$WORK/lists";
Dir::Cache "$WORK/cache";
Dir::State::status "/var/lib/dpkg/status";
EOF
export APT_CONFIG=$WORK/apt.conf
if [ ! -f "$WORK/.lists-ready" ]; then
    apt-get -q update
    touch "$WORK/.lists-ready"
fi
image=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
release=${image#linux-image-}
headers=linux-headers-$release
common=$(apt-cache depends "$headers" | awk '/Depends: linux-headers-.*-common/ { print $2; exit }')
kbuild=$(apt-cache depends "$headers" | awk '/Depends: linux-kbuild-/ { print $2; exit }')
nvidia_version=$(apt-cache policy nvidia-kernel-dkms | awk '/Candidate:/ { print $2 }')
[ -n "$release" ] && [ -n "$common" ] && [ -n "$kbuild" ] && [ -n "$nvidia_version" ] \
    || { echo "nvidia-fixture.sh: the lists name no kernel headers or no nvidia-kernel-dkms" >&2; exit 1; }
echo "kernel $release ($headers, $common, $kbuild); nvidia-kernel-dkms $nvidia_version"

ROOT=$WORK/root-$release-$nvidia_version
if [ ! -f "$ROOT/.ready" ]; then
    rm -rf "$ROOT" "$WORK/debs"/*.deb
    (cd "$WORK/debs" && apt-get -q download nvidia-kernel-dkms "$headers" "$common" "$kbuild")
    for deb in "$WORK/debs"/*.deb; do dpkg -x "$deb" "$ROOT"; done
    touch "$ROOT/.ready"
fi

# The headers' Makefile includes the common headers by their absolute path; point it into ROOT.
KDIR=$ROOT/usr/src/$headers
sed -i "s|^include /usr/src/|include $ROOT/usr/src/|" "$KDIR/Makefile"

# ---- 2. the build ----
SRC=$(ls -d "$ROOT"/usr/src/nvidia-current-* | head -n1)
[ -f "$SRC/dkms.conf" ] || { echo "nvidia-fixture.sh: no dkms.conf under $ROOT/usr/src/nvidia-current-*" >&2; exit 1; }
BUILD=$WORK/build-$release-$nvidia_version
if [ ! -f "$BUILD/.built" ]; then
    rm -rf "$BUILD"
    cp -a "$SRC" "$BUILD"
    echo "building in $BUILD (log: $BUILD/make.log) ..."
    start=$(date +%s)
    # dkms.conf's MAKE line; the kernel's common headers are the source, the flavour's the output
    # (what /lib/modules/<release>/source and build point to).
    make -C "$BUILD" -j"$(nproc)" modules KERNEL_UNAME="$release" SYSSRC="$ROOT/usr/src/$common" SYSOUT="$KDIR" \
        NV_VERBOSE=0 >"$BUILD/make.log" 2>&1 || { tail -n 40 "$BUILD/make.log"; exit 1; }
    echo "built in $(( $(date +%s) - start )) s"
    touch "$BUILD/.built"
fi

# ---- 3. the extract ----
mkdir -p "$OUT"
rm -f "$OUT"/*.ko "$OUT"/*.modinfo.txt "$OUT/modules.alias"
for m in "${MODULES[@]}"; do
    # dkms.conf: BUILT_MODULE_NAME nvidia[-part] is installed as DEST_MODULE_NAME nvidia-current[-part].
    built=$(find "$BUILD" -name "${m/nvidia-current/nvidia}.ko" | head -n1)
    [ -n "$built" ] || { echo "nvidia-fixture.sh: the build made no ${m/nvidia-current/nvidia}.ko" >&2; exit 1; }
    ko=$WORK/$m.ko
    cp "$built" "$ko"
    # The module's .modinfo section alone, in an ELF object of its own (a few KiB instead of
    # tens of MiB): what the probe and modinfo read.
    objcopy --only-section=.modinfo --strip-all "$ko" "$OUT/$m.ko"
    /usr/sbin/modinfo "$ko" | sed "s|$ko|/usr/lib/modules/$release/updates/dkms/$m.ko|" >"$OUT/$m.modinfo.txt"
    # dkms renames the file only (.modinfo still says name=nvidia...); depmod names the module
    # after its file, so modules.alias and libhd say nvidia_current...
    name=${m//-/_}
    /usr/sbin/modinfo -F alias "$ko" | sed "s/^/alias /; s/\$/ $name/" >>"$OUT/modules.alias"
done
{
    echo "nvidia-kernel-dkms $nvidia_version"
    echo "built against $headers"
} >"$OUT/SOURCE"
echo "wrote $OUT:"
ls -l "$OUT"
