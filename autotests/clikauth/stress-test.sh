#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Every command-line action that reaches the privileged helper, run again and again through
# the real KAuth round trip (harness/machine-on-bus.sh), each run with glibc's heap checks on
# (MALLOC_CHECK_=3 with libc_malloc_debug, which glibc 2.34 and later need for it, and a
# different MALLOC_PERTURB_ byte per run). Heap damage that depends on timing, in the tool's
# own code or in the teardown of the client libraries at exit, shows as a run that ends with a
# signal instead of its exit status.
#
# The machine has an NVIDIA adapter with Debian's DKMS module names (nvidia-current*.ko under
# updates/dkms) and only the nouveau X driver, and an Intel adapter whose acceleration options
# the helper writes to /etc/default/grub. Each case is one action with the status it must end
# with: 0 for a change the helper made, 255 for one the helper or polkit refused or that failed
# in the helper (a boot loader update that exits with status 3). The boot loader defaults are
# put back before every run, so every Intel case changes something. The helper is stopped
# before every tenth run, so the next run starts it again through the bus.
#
# Usage: stress-test.sh BINARY_DIR STAGE_DIR RUNS [OFFSET]
#   RUNS    how many runs; run N does case (N + OFFSET) modulo the number of cases
#   OFFSET  lets several CTest tests share the cases between them (default 0)
# Exit: 0 when every run ended with its own status; 1 when any ended with a signal or with
# another status (each such run is listed); 77 without root (skipped).
set -uo pipefail
BIN_DIR=$(cd "${1:?binary folder}" && pwd)
STAGE=${2:?stage folder}
RUNS=${3:?number of runs}
OFFSET=${4:-0}
HERE=$(cd "$(dirname "$0")" && pwd)
HARNESS=$(cd "$HERE/../harness" && pwd)
if [ "$(id -u)" != 0 ]; then
    echo "SKIP: needs root for a private system bus with the privileged helper"
    exit 77
fi
if [ ! -x "$STAGE/usr/lib/kauth/libexec/videodriver-helper" ]; then
    echo "FAIL: no staged helper in $STAGE; run scripts/build.sh first"
    exit 1
fi
STAGE=$(cd "$STAGE" && pwd)
MALLOC_DEBUG=
for candidate in /lib/x86_64-linux-gnu/libc_malloc_debug.so.0 /usr/lib/x86_64-linux-gnu/libc_malloc_debug.so.0; do
    [ -e "$candidate" ] && { MALLOC_DEBUG=$candidate; break; }
done
[ -n "$MALLOC_DEBUG" ] || echo "note: no libc_malloc_debug.so.0 here; MALLOC_CHECK_ has no effect"
# A sanitizer build brings its own allocator, which must be the first library loaded. (grep reads
# all of ldd's output: with -q it could leave early and fail the pipe under pipefail.)
if ldd "$BIN_DIR/corvo-admin-driver" | grep libasan >/dev/null; then
    MALLOC_DEBUG=
fi

MACHINE=(
    --gpu 0000:00:02.0,8086,5917,030000,i915,1043,1a00
    --gpu 0000:0b:00.0,10de,1c03,030000,nouveau,1043,85bf
    --alias 'pci:v00008086d00005917sv*sd*bc03sc*i* i915'
    --alias 'pci:v000010DEd*sv*sd*bc03sc*i* nouveau'
    --alias 'pci:v000010DEd*sv*sd*bc03sc00i00* nvidia_current'
    --module kernel/drivers/gpu/drm/i915/i915.ko=i915
    --module kernel/drivers/gpu/drm/nouveau/nouveau.ko=nouveau
    --module updates/dkms/nvidia-current.ko=nvidia_current
    --module updates/dkms/nvidia-current-drm.ko=nvidia_current_drm
    --module updates/dkms/nvidia-current-modeset.ko=nvidia_current_modeset
    --module updates/dkms/nvidia-current-uvm.ko=nvidia_current_uvm
    --drm 0000:0b:00.0
    --xorg 1:nouveau_drv.so
)

# status|who|update-grub status|action and arguments (who: root or nobody, whom polkit refuses)
CASES=(
    "0|root|0|set-module PCI:0b@0000:00:0 nouveau"
    "255|root|0|set-module PCI:0b@0000:00:0 nvidia_current"
    "255|nobody|0|set-module PCI:0b@0000:00:0 nouveau"
    "0|root|0|set-xorg PCI:0b@0000:00:0 nouveau"
    "255|root|0|set-xorg PCI:0b@0000:00:0 vesa"
    "255|nobody|0|set-xorg PCI:0b@0000:00:0 nouveau"
    "0|root|0|intel-accel-set-guc 3"
    "255|root|3|intel-accel-set-guc 3"
    "255|nobody|0|intel-accel-set-guc 3"
    "0|root|0|intel-accel-set-fbc 1"
    "255|root|3|intel-accel-set-fbc 1"
    "0|root|0|intel-accel-enable"
    "255|nobody|0|intel-accel-enable"
    "0|root|0|intel-accel-disable"
    "255|root|3|intel-accel-disable"
)

# The part that runs inside the made-up machine (whose /tmp is another folder): given as text.
INSIDE=$(cat <<'EOF'
BIN_DIR=$1 HARNESS=$2 RUNS=$3 OFFSET=$4 MALLOC_DEBUG=$5
shift 5
CASES=("$@")
T=$(mktemp -d /tmp/stress.XXXXXX)
chmod 755 "$T"
mkdir "$T/apt"
APT_FIXTURE_INSTALLED="firmware-misc-nonfree intel-microcode intel-media-va-driver mesa-vulkan-drivers mesa-vdpau-drivers mesa-va-drivers" \
    "$HARNESS/apt-fixture.sh" "$T/apt" >/dev/null || exit 1
chmod -R a+rX "$T/apt"
export APT_CONFIG=$T/apt/apt.conf
cat >/usr/sbin/update-grub <<STUB
#!/bin/sh
exit \$(cat $T/update-grub.status)
STUB
chmod 755 /usr/sbin/update-grub

stop_helper() {
    local pid
    pid=$(/usr/bin/dbus-send --system --print-reply=literal --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.corvo.kcm.videodriver 2>/dev/null | awk '{print $2}')
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
}

signals=0 wrong=0
declare -A seen
for run in $(seq 0 $((RUNS - 1))); do
    IFS='|' read -r expected who grub_status action <<<"${CASES[$(((run + OFFSET) % ${#CASES[@]}))]}"
    [ $((run % 10)) = 9 ] && stop_helper
    echo "$grub_status" >"$T/update-grub.status"
    printf 'GRUB_DEFAULT=0\nGRUB_CMDLINE_LINUX_DEFAULT="quiet splash i915.enable_guc=2"\nGRUB_CMDLINE_LINUX=""\n' >/etc/default/grub
    as=()
    [ "$who" = nobody ] && as=(/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups --)
    # shellcheck disable=SC2086 # the action's words
    env LD_PRELOAD="$MALLOC_DEBUG" MALLOC_CHECK_=3 MALLOC_PERTURB_=$((run % 255 + 1)) \
        "${as[@]}" "$BIN_DIR/corvo-admin-driver" $action >"$T/out" 2>&1
    status=$?
    seen["$status"]=$((${seen["$status"]:-0} + 1))
    if [ $status -gt 128 ] && [ $status -lt 255 ]; then
        signals=$((signals + 1))
        echo "run $run ($who: $action): ended with signal $((status - 128))"
        tail -n 5 "$T/out" | sed 's/^/    /'
    elif [ "$status" != "$expected" ]; then
        wrong=$((wrong + 1))
        echo "run $run ($who: $action): exit status $status, not $expected"
        tail -n 5 "$T/out" | sed 's/^/    /'
    fi
done
summary="$RUNS runs: $signals ended with a signal, $wrong with another status than their own; statuses:"
for status in "${!seen[@]}"; do summary+=" $status x${seen[$status]}"; done
echo "$summary"
[ $signals = 0 ] && [ $wrong = 0 ]
EOF
)
"$HARNESS/machine-on-bus.sh" "$STAGE" "${MACHINE[@]}" -- \
    bash -c "$INSIDE" inside "$BIN_DIR" "$HARNESS" "$RUNS" "$OFFSET" "$MALLOC_DEBUG" "${CASES[@]}" </dev/null
status=$?
[ $status = 77 ] && exit 77
[ $status = 0 ] || exit 1
