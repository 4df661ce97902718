#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs the built corvo-admin-driver on made-up machines (autotests/harness/gpu-fixture.sh) and
# compares its whole output, standard error included, and its exit status with what an
# administrator must see. Usage: listing-test.sh BINARY_DIR HARNESS
# Exit: 0 all equal, 1 a difference (shown as a diff), 77 no namespace could be made (skipped).
set -uo pipefail
BIN_DIR=$(cd "${1:?binary folder}" && pwd)
HARNESS=${2:?path of gpu-fixture.sh}
. "$(dirname "$HARNESS")/skip.sh"
. "$(dirname "$HARNESS")/laptop-machine.sh"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failed=0 passed=0 skipped=0

# Every command of a case prints "$ ARGS", its output and "[exit N]". The program is found
# through PATH so that its help shows the bare program name.
cat >"$WORK/run.sh" <<'EOF'
run() {
    printf '$'; printf ' %s' "$@"; printf '\n'
    corvo-admin-driver "$@" 2>&1
    echo "[exit $?]"
}
EOF

# check NAME EXPECTED_FILE HARNESS_OPTIONS... -- COMMANDS (one bash text)
check() {
    local name=$1 expected=$2
    shift 2
    local opts=()
    while [ "$1" != -- ]; do opts+=("$1"); shift; done
    shift
    "$HARNESS" "${opts[@]}" -- env PATH="$BIN_DIR:$PATH" bash -c ". '$WORK/run.sh'; $1" >"$WORK/$name.out" 2>&1
    local status=$?
    if [ $status = 77 ]; then
        # Not run here: counted, and the cases after it still run.
        cat "$WORK/$name.out"
        echo "SKIP: $name"
        skipped=$((skipped + 1))
        return
    fi
    if diff -u "$expected" "$WORK/$name.out" >"$WORK/$name.diff"; then
        echo "PASS: $name"
        passed=$((passed + 1))
    else
        echo "FAIL: $name (harness status $status); expected (-) and seen (+):"
        cat "$WORK/$name.diff"
        failed=$((failed + 1))
    fi
}

# ---------------------------------------------------------------------------------------------
# The laptop of harness/laptop-machine.sh. nvidia_drm's file name alone would give "nvidia-drm",
# the trace text before the .modinfo "%llu, timeline"; modesetting, installed in two folders, is
# listed twice, current where it is met first; the NVIDIA card's X driver is not known, so none
# is current. A GPU is also found by the PCI database
# name the control module shows, and by any name in other case when only one GPU fits.
cat >"$WORK/laptop.expected" <<'EOF'
$ list-gpus
Bus id: PCI:01@0000:00:0 Model: nVidia GP106 [GeForce GTX 1060 6GB] Vendor: nVidia Corporation
Bus id: PCI:00@0000:02:0 Model: Intel UHD Graphics 620 Vendor: Intel Corporation
[exit 0]
$ list-modules PCI:00@0000:02:0
Kernel modules for PCI:00@0000:02:0
i915 (current)
[exit 0]
$ list-modules nVidia GP106 [GeForce GTX 1060 6GB]
Kernel modules for nVidia GP106 [GeForce GTX 1060 6GB]
nouveau (current)
nvidia
nvidia_drm
[exit 0]
$ list-xorg Intel UHD Graphics 620
modesetting (current)
modesetting
intel
nvidia
[exit 0]
$ list-xorg nVidia Corporation
modesetting
modesetting
intel
nvidia
[exit 0]
$ list-modules UHD Graphics 620
Kernel modules for UHD Graphics 620
i915 (current)
[exit 0]
$ list-modules nvidia corporation
Kernel modules for nvidia corporation
nouveau (current)
nvidia
nvidia_drm
[exit 0]
$ -a list-gpus
intel-accel-disable: Disables Intel GPU hardware acceleration (GuC and FBC).
intel-accel-enable: Enables Intel GPU hardware acceleration (GuC and FBC).
intel-accel-set-fbc: Sets Intel GPU Frame Buffer Compression (FBC).
intel-accel-set-guc: Sets Intel GPU GuC mode.
intel-accel-status: Shows current Intel GPU acceleration settings (GuC and FBC).
list-gpus: Lists available GPUs
list-modules: Lists kernel modules for the specified GPU
list-packages: Lists all available for installation and installed driver packages which are compatible with the specified GPU
list-xorg: Lists ALL (even incompatible) XOrg drivers and current XOrg driver for the specified GPU
set-module: Sets new kernel module for the specified GPU
set-xorg: Sets new XOrg driver for the specified GPU
[exit 0]
$ list-modules
Usage: corvo-admin-driver [options] list-modules <GPU>
 GPU

Options:
  -h, --help     Displays help on commandline options.
  --help-all     Displays help including Qt specific options.
  --actions, -a  Provides information about available actions

Arguments:
  list-modules   Lists kernel modules for the specified GPU
  GPU            GPU BusID, name or vendor
[exit 0]
$ list-modules Nope
Couldn't find GPU by BusID / Model / Vendor using argument Nope
[exit 255]
$ list-xorg pci:00@0000:02:0
modesetting (current)
modesetting
intel
nvidia
[exit 0]
$ list-gpus surplus
Usage: corvo-admin-driver [options] list-gpus


Options:
  -h, --help     Displays help on commandline options.
  --help-all     Displays help including Qt specific options.
  --actions, -a  Provides information about available actions

Arguments:
  list-gpus      Lists available GPUs
[exit 0]
$ frobnicate
Usage: corvo-admin-driver [options] action

Options:
  -h, --help     Displays help on commandline options.
  --help-all     Displays help including Qt specific options.
  --actions, -a  Provides information about available actions

Arguments:
  action         Action to execute
[exit 0]
$ list-xorg --bogus PCI:00@0000:02:0
corvo-admin-driver: Unknown option 'bogus'.
[exit 1]
EOF
check laptop "$WORK/laptop.expected" \
    "${LAPTOP_MACHINE[@]}" \
    -- 'run list-gpus
        run list-modules PCI:00@0000:02:0
        run list-modules "nVidia GP106 [GeForce GTX 1060 6GB]"
        run list-xorg "Intel UHD Graphics 620"
        run list-xorg "nVidia Corporation"
        run list-modules "UHD Graphics 620"
        run list-modules "nvidia corporation"
        run -a list-gpus
        run list-modules
        run list-modules Nope
        run list-xorg pci:00@0000:02:0
        run list-gpus surplus
        run frobnicate
        run list-xorg --bogus PCI:00@0000:02:0'

# ---------------------------------------------------------------------------------------------
# A workstation probed in the order 0c, 0b, 0a, 02: two Intel adapters (the vendor name picks
# the first one probed, 0c, which has no DRM node and so no known X driver: none is current;
# 02 has one; "intel corporation" in lower case fits both and so names neither), a VMware SVGA
# adapter (libhd knows only its X driver, "vmware", which is no module file: listed under that
# name, and not current, since the bound vmwgfx is not it), and an adapter libhd knows no
# module for and no driver is bound to (kept by the tool: its listing is just the header). Bus numbers above 9 keep their hex digits. The X server is not root's, so the
# display manager's log counts ("modeset"), not root's ("intel"). i915 is installed only
# compressed, so it is not found and listed under its probe name. X driver folder 3 holds a
# link to folder 1, whose drivers are therefore listed twice.
cat >"$WORK/workstation.expected" <<'EOF'
$ list-gpus
Bus id: PCI:0c@0000:00:0 Model: Intel VGA compatible controller Vendor: Intel Corporation
Bus id: PCI:0b@0000:00:0 Model: VMware VMWARE0405 Vendor: VMware, Inc.
Bus id: PCI:0a@0000:00:0 Model: VGA compatible controller Vendor: 
Bus id: PCI:00@0000:02:0 Model: Intel UHD Graphics 620 Vendor: Intel Corporation
[exit 0]
$ list-modules Intel Corporation
Kernel modules for Intel Corporation
i915 (current)
[exit 0]
$ list-xorg Intel Corporation
vmware
modesetting
intel
vmware
modesetting
intel
[exit 0]
$ list-modules intel corporation
Couldn't find GPU by BusID / Model / Vendor using argument intel corporation
[exit 255]
$ list-xorg PCI:00@0000:02:0
vmware
modesetting (current)
intel
vmware
modesetting
intel
[exit 0]
$ list-modules VMware, Inc.
Kernel modules for VMware, Inc.
vmware
[exit 0]
$ list-xorg VMware VMWARE0405
vmware
modesetting
intel
vmware
modesetting
intel
[exit 0]
$ list-modules PCI:0a@0000:00:0
Kernel modules for PCI:0a@0000:00:0
[exit 0]
$ list-modules PCI:0b@0000:00:0
Kernel modules for PCI:0b@0000:00:0
vmware
[exit 0]
EOF
check workstation "$WORK/workstation.expected" \
    --x-owner user \
    --gpu 0000:00:02.0,8086,5917,030000,i915,1043,1a00 \
    --gpu 0000:0a:00.0,1234,1111,030000 \
    --gpu 0000:0b:00.0,15ad,0405,030000,vmwgfx \
    --gpu 0000:0c:00.0,8086,56a0,030000,i915,8086,1020 \
    --alias 'pci:v00008086d*sv*sd*bc03sc*i* i915' \
    --module kernel/drivers/gpu/drm/i915/i915.ko.xz \
    --drm 0000:00:02.0 \
    --xlog 'root=[     5.000] (II) intel(0): not this one\n' \
    --xlog 'dm=[    20.123] (II) modeset(0): Output eDP-1 connected\n' \
    --xorg 1:intel_drv.so --xorg 1:modesetting_drv.so --xorg 1:vmware_drv.so --xorg '3:sub->1' \
    -- 'run list-gpus
        run list-modules "Intel Corporation"
        run list-xorg "Intel Corporation"
        run list-modules "intel corporation"
        run list-xorg PCI:00@0000:02:0
        run list-modules "VMware, Inc."
        run list-xorg "VMware VMWARE0405"
        run list-modules PCI:0a@0000:00:0
        run list-modules PCI:0b@0000:00:0'

# ---------------------------------------------------------------------------------------------
# A desktop on NVIDIA's own driver from Debian's nvidia-kernel-dkms: its modules.alias names
# nvidia_current and nvidia_current_drm, found as updates/dkms/nvidia-current.ko and
# nvidia-current-drm.ko, which declare "nvidia" and "nvidia_drm" (the real modules' .modinfo).
# The kernel binds the adapter under the declared name, so nvidia is current. Its log tag
# "NVIDIA" is upper case; it names the nvidia X driver all the same.
cat >"$WORK/nvidia-desktop.expected" <<'EOF'
$ list-modules PCI:01@0000:00:0
Kernel modules for PCI:01@0000:00:0
nouveau
nvidia (current)
nvidia_drm
[exit 0]
$ list-xorg PCI:01@0000:00:0
modesetting
nouveau
nvidia (current)
[exit 0]
EOF
check nvidia-desktop "$WORK/nvidia-desktop.expected" \
    --gpu 0000:01:00.0,10de,1c03,030000,nvidia,1043,85bf \
    --alias 'pci:v000010DEd*sv*sd*bc03sc*i* nouveau' \
    --debian-nvidia \
    --drm 0000:01:00.0 \
    --xlog 'root=[    21.500] (II) NVIDIA(0): Setting mode "DP-0: nvidia-auto-select @1920x1080"\n' \
    --xorg 1:modesetting_drv.so --xorg 2:nouveau_drv.so --xorg 3:nvidia_drv.so --xorg 3:libglxserver_nvidia.so \
    -- 'run list-modules PCI:01@0000:00:0
        run list-xorg PCI:01@0000:00:0'

# ---------------------------------------------------------------------------------------------
# A desktop whose AMD card is bound to no driver (amdgpu blacklisted, say): both modules are
# installed, yet neither is current; without a DRM node no X driver is current either.
cat >"$WORK/amd-unbound.expected" <<'EOF'
$ list-modules PCI:03@0000:00:0
Kernel modules for PCI:03@0000:00:0
amdgpu
radeon
[exit 0]
$ list-xorg PCI:03@0000:00:0
amdgpu
modesetting
radeon
[exit 0]
EOF
check amd-unbound "$WORK/amd-unbound.expected" \
    --gpu 0000:03:00.0,1002,67df,030000,-,1da2,e366 \
    --alias 'pci:v00001002d000067DFsv*sd*bc*sc*i* amdgpu' \
    --alias 'pci:v00001002d000067DFsv*sd*bc*sc*i* radeon' \
    --module kernel/drivers/gpu/drm/amd/amdgpu/amdgpu.ko=amdgpu \
    --module kernel/drivers/gpu/drm/radeon/radeon.ko=radeon \
    --xlog 'root=[    20.123] (II) AMDGPU(0): Output DisplayPort-0 connected\n' \
    --xorg 1:amdgpu_drv.so --xorg 2:modesetting_drv.so --xorg 3:radeon_drv.so \
    -- 'run list-modules PCI:03@0000:00:0
        run list-xorg PCI:03@0000:00:0'

# ---------------------------------------------------------------------------------------------
# A server with a network card and no display adapter: nothing to list, nothing to find; no X
# driver folders either.
cat >"$WORK/headless.expected" <<'EOF'
$ list-gpus
[exit 0]
$ list-modules Intel Corporation
Couldn't find GPU by BusID / Model / Vendor using argument Intel Corporation
[exit 255]
$ list-xorg PCI:00@0000:19:0
Couldn't find GPU by BusID / Model / Vendor using argument PCI:00@0000:19:0
[exit 255]
EOF
check headless "$WORK/headless.expected" \
    --gpu 0000:00:19.0,8086,15b7,020000,e1000e \
    --alias 'pci:v00008086d000015B7sv*sd*bc*sc*i* e1000e' \
    -- 'run list-gpus
        run list-modules "Intel Corporation"
        run list-xorg PCI:00@0000:19:0'

# A failure outweighs a skip; a run with skips and no failure is SKIPPED, never passed.
echo "$passed passed, $failed failed, $skipped skipped"
[ $failed = 0 ] || exit 1
[ $skipped = 0 ] || skip_test "$skipped of $((passed + failed + skipped)) cases could not run here"
