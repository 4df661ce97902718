#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
#
# The Ansible modules of contrib/ansible run by the real ansible-playbook against localhost
# (connection local) on a made-up machine whose changes reach the staged privileged helper
# through a private system bus (harness/machine-on-bus.sh). One transcript - each run's task
# results and the files the helper writes - is compared with what must be seen: a check run
# changes nothing on disk, the first run changes, the second reports no change, and failures
# carry the tool's message.
#
# Usage: modules-test.sh BINARY_DIR STAGE_DIR
# Exit: 0 equal, 1 a difference (shown as a diff), 77 no root, bus or ansible here (skipped).
set -uo pipefail
BIN_DIR=$(cd "${1:?binary folder}" && pwd)
STAGE=${2:?stage folder}
HERE=$(cd "$(dirname "$0")" && pwd)
HARNESS=$(cd "$HERE/../harness" && pwd)
CONTRIB=$(cd "$HERE/../../contrib/ansible" && pwd)
. "$HARNESS/skip.sh"
[ "$(id -u)" = 0 ] || skip_test "needs root for a private system bus with the privileged helper"
[ -x /usr/bin/ansible-playbook ] || skip_test "ansible-playbook is missing (Debian package ansible-core)"
if [ ! -x "$STAGE/usr/lib/kauth/libexec/videodriver-helper" ]; then
    echo "FAIL: no staged helper in $STAGE; run scripts/build.sh first"
    exit 1
fi
STAGE=$(cd "$STAGE" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# The commands run inside the machine; its /tmp is a fresh tmpfs.
cat >"$WORK/case.sh" <<VARIABLES
export PATH="$BIN_DIR:\$PATH"
HARNESS="$HARNESS"
CONTRIB="$CONTRIB"
CALLBACKS="$HERE/callback_plugins"
VARIABLES
cat >>"$WORK/case.sh" <<'CASE'
T=$(mktemp -d /tmp/ansible.XXXXXX)
# Ansible keeps its temporary files and its home in the fixture's /tmp, never in root's home.
export HOME=$T/home ANSIBLE_LOCAL_TEMP=$T/local ANSIBLE_REMOTE_TEMP=$T/remote
export ANSIBLE_LIBRARY=$CONTRIB/library ANSIBLE_MODULE_UTILS=$CONTRIB/module_utils
export ANSIBLE_STDOUT_CALLBACK=transcript ANSIBLE_CALLBACK_PLUGINS=$CALLBACKS ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3 ANSIBLE_NOCOLOR=1
export ANSIBLE_RETRY_FILES_ENABLED=false ANSIBLE_CONFIG=$T/none.cfg ANSIBLE_LOCALHOST_WARNING=false
mkdir -p "$HOME"
# A stand-in for the boot loader update that records its runs.
printf '#!/bin/sh\necho "update-grub ran: $(grep CMDLINE_LINUX_DEFAULT /etc/default/grub)" >>/tmp/update-grub.runs\n' >/usr/sbin/update-grub
chmod 755 /usr/sbin/update-grub
: >/tmp/update-grub.runs
# universe PACKAGES...: a fixture package universe with these installed.
universe() {
    rm -rf "$T/apt"
    mkdir -p "$T/apt"
    APT_FIXTURE_INSTALLED="$*" "$HARNESS/apt-fixture.sh" "$T/apt" || exit 1
    export APT_CONFIG=$T/apt/apt.conf
}
universe firmware-misc-nonfree intel-microcode intel-media-va-driver mesa-vulkan-drivers mesa-vdpau-drivers mesa-va-drivers
printf 'GRUB_DEFAULT=0\nGRUB_TIMEOUT=5\nGRUB_CMDLINE_LINUX_DEFAULT="quiet"\nGRUB_CMDLINE_LINUX=""\n' >/etc/default/grub
SNIPPET=/etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf
# play NAME TASKS...: a playbook for localhost of the given tasks (YAML text, one task each).
play() {
    local name=$1
    shift
    {
        echo "- hosts: localhost"
        echo "  connection: local"
        echo "  gather_facts: false"
        echo "  tasks:"
        for task in "$@"; do echo "$task" | sed 's/^/    /'; done
    } >"$T/$name.yml"
}
# run PLAYBOOK [OPTIONS]: one line per task of one run, and the totals.
run() {
    local book=$1
    shift
    echo "\$ ansible-playbook $book.yml $*"
    ansible-playbook -i localhost, "$@" "$T/$book.yml" 2>"$T/stderr"
    grep -v '^$' "$T/stderr" | sed 's/^/stderr: /'
}
# state: the files the tasks change, and the boot loader updates so far.
state() {
    if [ -e $SNIPPET ]; then echo "--- $SNIPPET"; cat $SNIPPET; else echo "--- no $SNIPPET"; fi
    echo "--- /etc/default/grub"
    cat /etc/default/grub
    echo "--- update-grub runs: $(wc -l </tmp/update-grub.runs)"
}
play site '- name: NVIDIA driver
  corvo_video_driver: {gpu: "PCI:01@0000:00:0", module: nvidia}' '- name: acceleration on
  corvo_intel_acceleration: {enabled: true}'
play back '- name: back to nouveau
  corvo_video_driver: {gpu: nVidia Corporation, module: nouveau}' '- name: acceleration off
  corvo_intel_acceleration: {enabled: false}' '- name: only HuC loading
  corvo_intel_acceleration: {guc_mode: 2, fbc: false}'
play failures '- name: unknown GPU
  corvo_video_driver: {gpu: Nope, module: nvidia}
  ignore_errors: true' '- name: module of another GPU
  corvo_video_driver: {gpu: "PCI:01@0000:00:0", module: i915}
  ignore_errors: true' '- name: X driver not installed
  corvo_video_driver: {gpu: "PCI:01@0000:00:0", xorg: vesa}
  ignore_errors: true' '- name: no option
  corvo_intel_acceleration: {}
  ignore_errors: true'

state
run site --check
state
run site
state
run site
state
run back --check
state
run failures
# The acceleration off again, in a universe that lacks one of its packages: the tool refuses.
printf 'GRUB_CMDLINE_LINUX_DEFAULT="quiet"\n' >/etc/default/grub
universe firmware-misc-nonfree intel-microcode intel-media-va-driver mesa-vulkan-drivers mesa-vdpau-drivers >/dev/null
run site
state
CASE

# An Intel adapter, and the GeForce driving the screen on nouveau; nvidia is known from
# modules.alias, its X driver installed.
MACHINE=(
    --gpu 0000:00:02.0,8086,5917,030000,i915,1043,1a00
    --gpu 0000:01:00.0,10de,1c03,030000,nouveau,1043,85bf
    --alias 'pci:v00008086d00005917sv*sd*bc03sc*i* i915'
    --alias 'pci:v000010DEd*sv*sd*bc03sc*i* nouveau'
    --alias 'pci:v000010DEd*sv*sd*bc03sc00i00* nvidia'
    --module kernel/drivers/gpu/drm/i915/i915.ko=i915
    --module kernel/drivers/gpu/drm/nouveau/nouveau.ko=nouveau
    --drm 0000:01:00.0
    --xlog 'root=[    20.200] (II) NOUVEAU(0): Output HDMI-1 connected\n'
    --xorg 1:modesetting_drv.so --xorg 2:nouveau_drv.so --xorg 3:nvidia_drv.so
)

cat >"$WORK/expected" <<'EXPECTED'
--- no /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf
--- /etc/default/grub
GRUB_DEFAULT=0
GRUB_TIMEOUT=5
GRUB_CMDLINE_LINUX_DEFAULT="quiet"
GRUB_CMDLINE_LINUX=""
--- update-grub runs: 0
$ ansible-playbook site.yml --check
NVIDIA driver: changed (xorg nouveau -> nvidia)
acceleration on: changed (actions=intel-accel-enable)
localhost: changed=2 failures=0 ignored=0
--- no /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf
--- /etc/default/grub
GRUB_DEFAULT=0
GRUB_TIMEOUT=5
GRUB_CMDLINE_LINUX_DEFAULT="quiet"
GRUB_CMDLINE_LINUX=""
--- update-grub runs: 0
$ ansible-playbook site.yml 
NVIDIA driver: changed (xorg nouveau -> nvidia)
acceleration on: changed (actions=intel-accel-enable)
localhost: changed=2 failures=0 ignored=0
--- /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf
Section "Device"
    Identifier "GP106 [GeForce GTX 1060 6GB]"
    Driver "nvidia"
    BusID "PCI:01@0000:00:0"
    Option "AllowEmptyInitialConfiguration"
EndSection

--- /etc/default/grub
GRUB_DEFAULT=0
GRUB_TIMEOUT=5
GRUB_CMDLINE_LINUX_DEFAULT="quiet i915.enable_guc=3 i915.enable_fbc=1"
GRUB_CMDLINE_LINUX=""
--- update-grub runs: 1
$ ansible-playbook site.yml 
NVIDIA driver: ok (xorg nvidia -> nvidia)
acceleration on: ok (actions=)
localhost: changed=0 failures=0 ignored=0
--- /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf
Section "Device"
    Identifier "GP106 [GeForce GTX 1060 6GB]"
    Driver "nvidia"
    BusID "PCI:01@0000:00:0"
    Option "AllowEmptyInitialConfiguration"
EndSection

--- /etc/default/grub
GRUB_DEFAULT=0
GRUB_TIMEOUT=5
GRUB_CMDLINE_LINUX_DEFAULT="quiet i915.enable_guc=3 i915.enable_fbc=1"
GRUB_CMDLINE_LINUX=""
--- update-grub runs: 1
$ ansible-playbook back.yml --check
back to nouveau: changed (xorg nvidia -> nouveau)
acceleration off: changed (actions=intel-accel-disable)
only HuC loading: changed (actions=intel-accel-set-guc 2,intel-accel-set-fbc 0)
localhost: changed=3 failures=0 ignored=0
--- /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf
Section "Device"
    Identifier "GP106 [GeForce GTX 1060 6GB]"
    Driver "nvidia"
    BusID "PCI:01@0000:00:0"
    Option "AllowEmptyInitialConfiguration"
EndSection

--- /etc/default/grub
GRUB_DEFAULT=0
GRUB_TIMEOUT=5
GRUB_CMDLINE_LINUX_DEFAULT="quiet i915.enable_guc=3 i915.enable_fbc=1"
GRUB_CMDLINE_LINUX=""
--- update-grub runs: 1
$ ansible-playbook failures.yml 
unknown GPU: failed (msg=Couldn't find GPU by BusID / Model / Vendor using argument Nope)
module of another GPU: failed (msg=The kernel module i915 cannot drive the GPU PCI:01@0000:00:0; its modules: nouveau, nvidia)
X driver not installed: failed (msg=The X driver vesa is not installed; installed: modesetting, nouveau, nvidia)
no option: failed (msg=one of the following is required: enabled, guc_mode, fbc)
localhost: changed=0 failures=0 ignored=4
$ ansible-playbook site.yml 
NVIDIA driver: ok (xorg nvidia -> nvidia)
acceleration on: failed (msg=Error: The necessary packages for Intel hardware acceleration to work are missing: mesa-va-drivers)
localhost: changed=0 failures=1 ignored=0
--- /etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf
Section "Device"
    Identifier "GP106 [GeForce GTX 1060 6GB]"
    Driver "nvidia"
    BusID "PCI:01@0000:00:0"
    Option "AllowEmptyInitialConfiguration"
EndSection

--- /etc/default/grub
GRUB_CMDLINE_LINUX_DEFAULT="quiet"
--- update-grub runs: 1
EXPECTED

SECONDS=0
"$HARNESS/machine-on-bus.sh" "$STAGE" "${MACHINE[@]}" -- bash -c "$(cat "$WORK/case.sh")" >"$WORK/seen" 2>&1
status=$?
if [ $status = 77 ]; then
    cat "$WORK/seen"
    skip_test "the machine on the bus could not be made here"
fi
echo "the machine ran for $SECONDS s"
if diff -u "$WORK/expected" "$WORK/seen"; then
    echo "PASS: ansible (harness status $status)"
    exit 0
fi
echo "FAIL: ansible (harness status $status); expected (-) and seen (+) above"
exit 1
