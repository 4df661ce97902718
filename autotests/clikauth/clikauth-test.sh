#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The command-line tool's changes made for real: corvo-admin-driver runs on made-up machines
# (harness/gpu-fixture.sh) and sends its requests through KAuth, a private system bus and polkit
# to the staged privileged helper, which writes to fixture folders at the real system paths
# (harness/machine-on-bus.sh). Each case compares one transcript - the tool's output, its
# standard error, its exit status, and the files the helper wrote, left or ran - with what must
# be seen.
#
# Usage: clikauth-test.sh BINARY_DIR STAGE_DIR GROUP
#   BINARY_DIR  folder of the built corvo-admin-driver
#   STAGE_DIR   the staged installation of scripts/build.sh (the helper, its policy, its D-Bus files)
#   GROUP       "switching" (set-module, set-xorg) or "intel" (the intel-accel-* actions)
# Exit: 0 all equal, 1 a difference (shown as a diff), 77 no namespace or bus here (skipped).
set -uo pipefail
BIN_DIR=$(cd "${1:?binary folder}" && pwd)
STAGE=${2:?stage folder}
GROUP=${3:?switching or intel}
HERE=$(cd "$(dirname "$0")" && pwd)
HARNESS=$(cd "$HERE/../harness" && pwd)
. "$HARNESS/skip.sh"
# The system bus and the helper's start need real root; gpu-fixture.sh alone would make do with
# a user namespace, in which the helper's fixture mounts then fail.
if [ "$(id -u)" != 0 ]; then
    skip_test "needs root for a private system bus with the privileged helper"
fi
if [ ! -x "$STAGE/usr/lib/kauth/libexec/videodriver-helper" ]; then
    echo "FAIL: no staged helper in $STAGE; run scripts/build.sh first"
    exit 1
fi
STAGE=$(cd "$STAGE" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failed=0 passed=0 skipped=0

# Put in front of every case's commands (as text: /tmp is another folder inside). The tool is
# found through PATH.
cat >"$WORK/lib.sh" <<EOF
export PATH="$BIN_DIR:\$PATH"
HARNESS="$HARNESS"
EOF
cat >>"$WORK/lib.sh" <<'EOF'
T=$(mktemp -d /tmp/case.XXXXXX)
chmod 755 "$T"
# run [--nobody] ARGS...: "$ ARGS", standard output, standard error (each line "stderr: "),
# "[exit N]". --nobody runs the tool as uid/gid 65534, whom polkit refuses the helper's actions.
run() {
    local as=()
    if [ "$1" = --nobody ]; then
        as=(/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups --)
        shift
        printf '(nobody) '
    fi
    printf '$'; printf ' %s' "$@"; printf '\n'
    "${as[@]}" corvo-admin-driver "$@" 2>"$T/stderr"
    local status=$?
    sed 's/^/stderr: /' "$T/stderr"
    echo "[exit $status]"
}
# show FILE: its exact bytes between a header and an end mark (a missing final line feed shows).
show() {
    if [ -e "$1" ]; then
        echo "--- $1"
        cat "$1"
        echo "[end of $1]"
    else
        echo "--- $1 does not exist"
    fi
}
# tree DIR: every path below DIR, sorted; folders end in "/", dated backup names read "<date>".
tree() {
    if [ -d "$1" ]; then
        echo "--- tree $1"
        # A backup generation is named after the time it was taken.
        (cd "$1" && find . -mindepth 1 \( -type d -printf '%P/\n' -o -printf '%P\n' \) | LC_ALL=C sort) \
            | sed -E 's#^[0-9]{8}-[0-9]{6}(-[0-9]+)?#<date>#'
    else
        echo "--- tree $1 does not exist"
    fi
}
# A stand-in for the boot loader update that records each run (as whom, with which arguments,
# and the command line the defaults file held at that moment) and exits with the given status.
update_grub_stub() {
    cat >/usr/sbin/update-grub <<STUB
#!/bin/sh
echo "update-grub ran as \$(id -un) with [\$*]: \$(grep -n CMDLINE_LINUX_DEFAULT /etc/default/grub | tr '\n' ' ')" >>/tmp/update-grub.runs
exit $1
STUB
    chmod 755 /usr/sbin/update-grub
    : >/tmp/update-grub.runs
    chmod 644 /tmp/update-grub.runs
}
# A fixture APT universe with the given packages installed, for the missing-packages check.
apt_universe() {
    mkdir -p "$T/apt"
    APT_FIXTURE_INSTALLED="$*" "$HARNESS/apt-fixture.sh" "$T/apt" || exit 1
    chmod -R a+rX "$T/apt"
    export APT_CONFIG=$T/apt/apt.conf
}
# The boot loader defaults of the Intel cases; the command line starts with GuC mode 2.
grub_fixture() {
    cat >/etc/default/grub <<'GRUB'
# If you change this file, run update-grub afterwards.
GRUB_DEFAULT=0
GRUB_TIMEOUT=5
GRUB_DISTRIBUTOR=`lsb_release -i -s 2> /dev/null || echo Debian`
GRUB_CMDLINE_LINUX_DEFAULT="quiet splash i915.enable_guc=2"
GRUB_CMDLINE_LINUX=""
GRUB
}
INTEL_PACKAGES="firmware-misc-nonfree intel-microcode intel-media-va-driver mesa-vulkan-drivers mesa-vdpau-drivers mesa-va-drivers"
EOF

# check NAME EXPECTED_FILE GPU_FIXTURE_OPTIONS... -- COMMANDS (one bash text)
check() {
    local name=$1 expected=$2
    shift 2
    local opts=()
    while [ "$1" != -- ]; do opts+=("$1"); shift; done
    shift
    "$HARNESS/machine-on-bus.sh" "$STAGE" "${opts[@]}" -- \
        bash -c "$(cat "$WORK/lib.sh")
$1" >"$WORK/$name.out" 2>&1
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

. "$HERE/cases-$GROUP.sh"

# A failure outweighs a skip; a run with skips and no failure is SKIPPED, never passed.
echo "$passed passed, $failed failed, $skipped skipped"
[ $failed = 0 ] || exit 1
[ $skipped = 0 ] || skip_test "$skipped of $((passed + failed + skipped)) cases could not run here"
