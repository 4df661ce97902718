#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# gpu-fixture.sh: runs one command on a made-up machine.
#
# The command sees fake graphics adapters through libhd and libpci, a fixture kernel module
# tree, DRM links, X server logs and X driver folders, all at their real system paths. Every
# mount lives in a private mount namespace that ends with the command: the host is never
# touched. The command also runs in a process namespace of its own (with its own /proc), so
# it sees only the fixture's processes. As root it uses `unshare -m -p`; otherwise
# `unshare -rm -p` (a user namespace with the caller mapped to root). When neither works it
# prints the reason and exits with status 77,
# which CTest turns into SKIPPED through the SKIP_RETURN_CODE test property.
#
#   gpu-fixture.sh [OPTIONS] -- COMMAND [ARGS...]
#
# The exit status is the command's. The fixture is built inside the namespace in a tmpfs and
# vanishes with it. Options, each may be repeated:
#
#   --gpu BUSID,VENDOR,DEVICE[,CLASS[,DRIVER[,SUBVENDOR,SUBDEVICE]]]
#       one PCI function in the fake sysfs, e.g. --gpu 0000:01:00.0,10de,1c03,030000,nouveau
#       (ids in hex without 0x; CLASS defaults to 030000; DRIVER is the bound kernel driver,
#       "-" or left out for none). The fixture is a tmpfs, so the probe order is fixed by the
#       order of the options: libhd reports the last --gpu first on the kernels seen here.
#   --alias "PATTERN MODULE"
#       a line "alias PATTERN MODULE" of the tree's modules.alias, from which libhd takes the
#       module names when its own database knows none (e.g. "pci:v000015ADd*sv*sd*bc03sc*i* vmwgfx").
#   --module RELPATH[=NAME]
#       a file in the module tree (/usr/lib/modules/$(uname -r)/RELPATH). With =NAME it is a
#       real ELF object whose .modinfo section declares name=NAME (built with cc) and whose
#       data holds, before it, a trace format with "ring_name=" in it (as amdgpu's does); without,
#       an empty file (for names like i915.ko.xz that must not be found).
#   --debian-nvidia
#       Debian's NVIDIA kernel modules as dkms installs them from nvidia-kernel-dkms:
#       updates/dkms/nvidia-current.ko, -modeset, -drm and -uvm, each the real module's
#       .modinfo section in a minimal ELF object, and their lines of modules.alias (module name
#       nvidia_current, after the file). Made by scripts/nvidia-fixture.sh into
#       autotests/fixtures/nvidia-current.
#   --module-tree DIR
#       use DIR as the whole module tree of the running kernel instead (bound, not copied);
#       --alias and --module are then ignored.
#   --loaded MODULE
#       a line of the fake /proc/modules (libhd marks loaded modules active). Default: the
#       drivers given with --gpu.
#   --drm BUSID
#       a DRM card node /dev/dri/cardN with its link /dev/dri/by-path/pci-BUSID-card.
#   --xlog root|dm|user=TEXT
#       contents (printf %b escapes) of /var/log/Xorg.0.log (root), /var/log/vela-dm/Xorg.0.log
#       (dm) or the X server owner's ~/.local/share/xorg/Xorg.<display>.log (user). Missing
#       ones do not exist. --xlog user-link=PATH makes the owner's log a symbolic link to PATH.
#   --x-owner root|user|none
#       who runs the X server: root (default), the fixture user corvo-x (uid 4242, its home in
#       the fixture, added to /etc/passwd; needs real root), or no X server at all. The command
#       runs in a process namespace of its own, so an X server running on the host (another
#       test's Xvfb, say) is never seen; the X server is a process named "Xorg" (a copy of
#       bash that sleeps) started with the display argument below.
#   --x-display N
#       the display the X server is started for (":N", default 0).
#   --xorg N:FILE
#       an empty file FILE (may contain "/") in X driver folder N: 1 =
#       /usr/lib/x86_64-linux-gnu/xorg/modules/drivers, 2 = /usr/lib/xorg/modules/drivers,
#       3 = /usr/lib/x86_64-linux-gnu/nvidia/xorg. "--xorg 2:sub->1" makes sub a symbolic link
#       to folder 1's fixture copy. Unlisted folders are empty.
#   --etc-default
#       an empty private tmpfs over /etc/default, so that the command may write the boot
#       loader defaults (/etc/default/grub) at their real path.
#   --no-system-bus
#       DBUS_SYSTEM_BUS_ADDRESS names a socket that does not exist: requests to the privileged
#       helper fail at once, as with an unreachable helper.
#
# The environment reaches the command unchanged (APT_CONFIG for a fixture package universe,
# say), apart from GPU_FIXTURE and the bus address above.
# When GPU_FIXTURE_PROBE_CHECK names a program, it runs first on the finished machine; if it
# fails, its output is shown and the command does not run (status 1).
#
# libhd's helpers /usr/bin/udevadm and /usr/sbin/acpidump are replaced by /bin/true and
# /dev/mem is absent, so nothing of the real machine leaks into the probe. /proc/bus/pci is
# emptied so libpci reads only the fake sysfs.
#
# Example: gpu-fixture.sh --gpu 0000:00:02.0,8086,5917,030000,i915 \
#              --module kernel/drivers/gpu/drm/i915/i915.ko=i915 -- corvo-admin-driver list-gpus
set -euo pipefail
# The multiarch triplet the build put into its X driver folders (x86_64-linux-gnu on amd64).
MULTIARCH=${CORVO_MULTIARCH:-$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)}

HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/skip.sh"
ARGS=("$@")

# ---- the options ----
GPUS=() ALIASES=() MODULES=() LOADED=() DRMS=() XORG=() XLOG_ROOT= XLOG_DM= XLOG_USER= XLOG_USER_LINK= X_OWNER=root X_DISPLAY=0
MODULE_TREE=
ETC_DEFAULT= NO_SYSTEM_BUS= DEBIAN_NVIDIA=
while [ $# -gt 0 ]; do
    case $1 in
    --gpu) GPUS+=("$2"); shift 2 ;;
    --alias) ALIASES+=("$2"); shift 2 ;;
    --module) MODULES+=("$2"); shift 2 ;;
    --module-tree) MODULE_TREE=$(cd "$2" && pwd); shift 2 ;;
    --debian-nvidia) DEBIAN_NVIDIA=$HERE/../fixtures/nvidia-current; shift ;;
    --loaded) LOADED+=("$2"); shift 2 ;;
    --drm) DRMS+=("$2"); shift 2 ;;
    --xlog)
        case $2 in
        root=*) XLOG_ROOT=${2#root=} ;;
        dm=*) XLOG_DM=${2#dm=} ;;
        user=*) XLOG_USER=${2#user=} ;;
        user-link=*) XLOG_USER_LINK=${2#user-link=} ;;
        *) echo "gpu-fixture.sh: --xlog wants root=TEXT, dm=TEXT or user=TEXT" >&2; exit 2 ;;
        esac
        shift 2 ;;
    --x-owner)
        case $2 in root | user | none) X_OWNER=$2 ;; *) echo "gpu-fixture.sh: --x-owner wants root, user or none" >&2; exit 2 ;; esac
        shift 2 ;;
    --x-display)
        [[ $2 =~ ^[0-9]+$ ]] || { echo "gpu-fixture.sh: --x-display wants a number" >&2; exit 2; }
        X_DISPLAY=$2; shift 2 ;;
    --xorg) XORG+=("$2"); shift 2 ;;
    --etc-default) ETC_DEFAULT=1; shift ;;
    --no-system-bus) NO_SYSTEM_BUS=1; shift ;;
    --) shift; break ;;
    *) echo "gpu-fixture.sh: unknown option $1 (see the top of the script)" >&2; exit 2 ;;
    esac
done
[ $# -gt 0 ] || { echo "gpu-fixture.sh: no command given (… -- COMMAND [ARGS])" >&2; exit 2; }

if [ "${_GPU_FIXTURE_INSIDE:-}" != 1 ]; then
    # ---- outside: find a way into a private mount namespace ----
    # A process namespace of its own too, with its own /proc: the probe looks for X servers
    # in the process list.
    if [ "$(id -u)" = 0 ]; then
        UNSHARE=(unshare -m -p -f --mount-proc --propagation private)
    elif [ "$X_OWNER" = user ]; then
        skip_test "an X server of another user needs root"
    elif unshare -rmpf --mount-proc true 2>/dev/null; then
        UNSHARE=(unshare -rm -p -f --mount-proc --propagation private)
    else
        skip_test "not root and user namespaces are not available here, so no private mount namespace for the fixture"
    fi

    # The fixture lives in a tmpfs mounted on this empty folder inside the namespace only; a
    # tmpfs also lists folders in an order fixed by their creation (newest first here), where a
    # disk file system would use its own per-disk hash order.
    FIX=$(mktemp -d "${TMPDIR:-/tmp}/gpu-fixture.XXXXXX")
    trap 'rmdir "$FIX"' EXIT
    set +e
    _GPU_FIXTURE_INSIDE=1 FIX=$FIX "${UNSHARE[@]}" "$HERE/gpu-fixture.sh" "${ARGS[@]}"
    status=$?
    set -e
    exit $status
fi

# ---- inside the private mount namespace: build the fixture in its tmpfs ----
unset _GPU_FIXTURE_INSIDE
mount -t tmpfs -o size=64m,mode=755 gpu-fixture "$FIX"
KVER=$(uname -r)
S=$FIX/sys
mkdir -p "$S/bus/pci/devices" "$S/bus/pci/drivers" "$S/bus/pci_express/drivers" "$S/module" \
    "$S/devices/pci0000:00" "$FIX/dev" "$FIX/dri/by-path" "$FIX/xorg/1" "$FIX/xorg/2" "$FIX/xorg/3"

# A 256-byte type-0 PCI configuration space, little-endian, written with one printf.
config_space() { # FILE VENDOR DEVICE CLASS SUBVENDOR SUBDEVICE
    local out='' i
    byte() { printf -v b '\\x%02x' $(($1 & 0xff)); out+=$b; }
    word() { byte $1; byte $(($1 >> 8)); }
    word $2; word $3                       # 0x00 vendor, device
    word 0x0007; word 0                    # 0x04 command (io, memory, bus master), status
    byte 0x01; byte $4; byte $(($4 >> 8)); byte $(($4 >> 16)) # 0x08 revision, class code
    byte 0; byte 0; byte 0; byte 0         # 0x0c cache line, latency, header type 0, bist
    word 0; word 0xf600                    # 0x10 BAR0: 32-bit memory at 0xf6000000
    for ((i = 0x14; i < 0x2c; i++)); do byte 0; done
    word $5; word $6                       # 0x2c subsystem vendor, subsystem
    for ((i = 0x30; i < 0x3c; i++)); do byte 0; done
    byte 11; byte 1; byte 0; byte 0        # 0x3c interrupt line, pin A
    for ((i = 0x40; i < 0x100; i++)); do byte 0; done
    printf "$out" >"$1"
}

drivers=()
for spec in "${GPUS[@]}"; do
    IFS=, read -r bus ven dev cls drv sven sdev <<<"$spec"
    cls=${cls:-030000} drv=${drv:--} sven=${sven:-$ven} sdev=${sdev:-0001}
    ven=$((16#$ven)) dev=$((16#$dev)) cls=$((16#$cls)) sven=$((16#$sven)) sdev=$((16#$sdev))
    d=$S/devices/pci0000:00/$bus
    mkdir -p "$d/power"
    printf '0x%04x\n' $ven >"$d/vendor"
    printf '0x%04x\n' $dev >"$d/device"
    printf '0x%06x\n' $cls >"$d/class"
    printf '0x%04x\n' $sven >"$d/subsystem_vendor"
    printf '0x%04x\n' $sdev >"$d/subsystem_device"
    echo 0x01 >"$d/revision"
    echo 11 >"$d/irq"
    echo 1 >"$d/enable"
    alias=$(printf 'pci:v%08Xd%08Xsv%08Xsd%08Xbc%02Xsc%02Xi%02X' $ven $dev $sven $sdev \
        $((cls >> 16)) $(((cls >> 8) & 0xff)) $((cls & 0xff)))
    echo "$alias" >"$d/modalias"
    {
        printf '0x%016x 0x%016x 0x%016x\n' 0xf6000000 0xf6ffffff 0x40200
        for i in $(seq 12); do printf '0x%016x 0x%016x 0x%016x\n' 0 0 0; done
    } >"$d/resource"
    config_space "$d/config" $ven $dev $cls $sven $sdev
    ln -s ../../../bus/pci "$d/subsystem"
    ln -s "../../../devices/pci0000:00/$bus" "$S/bus/pci/devices/$bus"
    {
        [ "$drv" != - ] && echo "DRIVER=$drv"
        printf 'PCI_CLASS=%X\nPCI_ID=%04X:%04X\nPCI_SUBSYS_ID=%04X:%04X\nPCI_SLOT_NAME=%s\nMODALIAS=%s\n' \
            $cls $ven $dev $sven $sdev "$bus" "$alias"
    } >"$d/uevent"
    if [ "$drv" != - ]; then
        # libhd finds the bound driver in the driver's folder, libpci through the device's link;
        # the driver's module link tells libhd that it is a loadable module.
        mkdir -p "$S/bus/pci/drivers/$drv" "$S/module/$drv/drivers"
        ln -s "../../../bus/pci/drivers/$drv" "$d/driver"
        ln -s "../../../../devices/pci0000:00/$bus" "$S/bus/pci/drivers/$drv/$bus"
        [ -e "$S/bus/pci/drivers/$drv/module" ] || ln -s "../../../../module/$drv" "$S/bus/pci/drivers/$drv/module"
        [ -e "$S/module/$drv/drivers/pci:$drv" ] || ln -s "../../../bus/pci/drivers/$drv" "$S/module/$drv/drivers/pci:$drv"
        drivers+=("$drv")
    fi
done
[ ${#LOADED[@]} -gt 0 ] || LOADED=(${drivers[@]+"${drivers[@]}"})
: >"$FIX/proc-modules"
for m in ${LOADED[@]+"${LOADED[@]}"}; do echo "$m 1000000 1 - Live 0x0000000000000000" >>"$FIX/proc-modules"; done

mkdir -p "$FIX/modules"
if [ -z "$MODULE_TREE" ]; then
    T=$FIX/modules/$KVER
    mkdir -p "$T"
    {
        echo "# Aliases extracted from modules themselves."
        for a in ${ALIASES[@]+"${ALIASES[@]}"}; do echo "alias $a"; done
        [ -z "$DEBIAN_NVIDIA" ] || cat "$DEBIAN_NVIDIA/modules.alias"
    } >"$T/modules.alias"
    if [ -n "$DEBIAN_NVIDIA" ]; then
        mkdir -p "$T/updates/dkms"
        cp "$DEBIAN_NVIDIA"/*.ko "$T/updates/dkms/"
    fi
    : >"$T/modules.dep"
    for m in ${MODULES[@]+"${MODULES[@]}"}; do
        rel=${m%%=*}
        mkdir -p "$(dirname "$T/$rel")"
        if [ "$rel" = "$m" ]; then
            : >"$T/$rel"
        else
            name=${m#*=}
            printf '%s\n' 'const char trace_format[] = "sched_job=%llu, timeline=%s, context=%u, seqno=%u, ring_name=%s, num_ibs=%u";' \
                "__attribute__((section(\".modinfo\"), used)) static const char modinfo[] = \"license=GPL\\0name=$name\\0vermagic=$KVER\";" |
                cc -fno-toplevel-reorder -x c -c -o "$T/$rel" -
        fi
    done
fi

i=0
for bus in ${DRMS[@]+"${DRMS[@]}"}; do
    : >"$FIX/dri/card$i"
    ln -s "../card$i" "$FIX/dri/by-path/pci-$bus-card"
    i=$((i + 1))
done
[ -n "$XLOG_ROOT" ] && printf '%b' "$XLOG_ROOT" >"$FIX/xlog-root"
[ -n "$XLOG_DM" ] && printf '%b' "$XLOG_DM" >"$FIX/xlog-dm"

for x in ${XORG[@]+"${XORG[@]}"}; do
    n=${x%%:*} f=${x#*:}
    case $n in 1 | 2 | 3) ;; *) echo "gpu-fixture.sh: --xorg folder must be 1, 2 or 3" >&2; exit 2 ;; esac
    if [[ $f == *'->'* ]]; then
        mkdir -p "$(dirname "$FIX/xorg/$n/${f%%->*}")"
        ln -s "$FIX/xorg/${f#*->}" "$FIX/xorg/$n/${f%%->*}"
    else
        mkdir -p "$(dirname "$FIX/xorg/$n/$f")"
        : >"$FIX/xorg/$n/$f"
    fi
done

mkdir -p "$FIX/bin"
if [ "$X_OWNER" = user ]; then
    X_HOME=$FIX/home/corvo-x
    mkdir -p "$X_HOME/.local/share/xorg"
    [ -n "$XLOG_USER" ] && printf '%b' "$XLOG_USER" >"$X_HOME/.local/share/xorg/Xorg.$X_DISPLAY.log"
    [ -n "$XLOG_USER_LINK" ] && ln -s "$XLOG_USER_LINK" "$X_HOME/.local/share/xorg/Xorg.$X_DISPLAY.log"
    chown -R 4242:4242 "$FIX/home/corvo-x"
    cp /etc/passwd "$FIX/passwd"
    echo "corvo-x:x:4242:4242:X server owner:$X_HOME:/usr/sbin/nologin" >>"$FIX/passwd"
fi

# ---- mount it over the real paths ----
mount --bind "$FIX/sys" /sys
[ -d /proc/bus/pci ] && mount -t tmpfs -o size=16k gpu-fixture-procpci /proc/bus/pci
[ -f /proc/modules ] && mount --bind "$FIX/proc-modules" /proc/modules

# Folders the fixture replaces; create the missing mount points through an overlay of
# /usr/lib whose upper layer holds just those folders.
XDIRS=(/usr/lib/$MULTIARCH/xorg/modules/drivers /usr/lib/xorg/modules/drivers
       /usr/lib/$MULTIARCH/nvidia/xorg)
missing=()
for d in /usr/lib/modules "${XDIRS[@]}"; do
    [ -d "$d" ] || missing+=("${d#/usr/lib/}")
done
if [ ${#missing[@]} -gt 0 ]; then
    mkdir -p "$FIX/ovl/upper" "$FIX/ovl/work"
    for d in "${missing[@]}"; do mkdir -p "$FIX/ovl/upper/$d"; done
    mount -t overlay gpu-fixture-usrlib -o "lowerdir=/usr/lib,upperdir=$FIX/ovl/upper,workdir=$FIX/ovl/work" /usr/lib
fi
mount --bind "$FIX/modules" /usr/lib/modules
if [ -n "${MODULE_TREE:-}" ]; then
    mkdir -p "/usr/lib/modules/$KVER" 2>/dev/null || true
    mount --bind "$MODULE_TREE" "/usr/lib/modules/$KVER"
fi
for i in 1 2 3; do mount --bind "$FIX/xorg/$i" "${XDIRS[$((i - 1))]}"; done

# A /dev of its own: the few nodes programs need, the DRM nodes, and no /dev/mem.
mount -t tmpfs -o size=1m,mode=755 gpu-fixture-dev "$FIX/dev"
for n in null zero full random urandom tty ptmx; do
    [ -e "/dev/$n" ] || continue
    touch "$FIX/dev/$n"
    mount --bind "/dev/$n" "$FIX/dev/$n"
done
for d in pts shm mqueue; do
    [ -d "/dev/$d" ] || continue
    mkdir -p "$FIX/dev/$d"
    mount --rbind "/dev/$d" "$FIX/dev/$d"
done
ln -s /proc/self/fd "$FIX/dev/fd"
for s in 0:stdin 1:stdout 2:stderr; do ln -s "/proc/self/fd/${s%%:*}" "$FIX/dev/${s#*:}"; done
cp -a "$FIX/dri" "$FIX/dev/dri"
mount --rbind "$FIX/dev" /dev

mount -t tmpfs -o size=1m gpu-fixture-log /var/log
mkdir -p /var/log/vela-dm
[ -f "$FIX/xlog-root" ] && cp "$FIX/xlog-root" /var/log/Xorg.0.log
[ -f "$FIX/xlog-dm" ] && cp "$FIX/xlog-dm" /var/log/vela-dm/Xorg.0.log

for t in /usr/bin/udevadm /usr/sbin/acpidump; do
    [ -e "$t" ] && mount --bind /bin/true "$t"
done
[ -f "$FIX/passwd" ] && mount --bind "$FIX/passwd" /etc/passwd

# The X server: a process named "Xorg" of its owner with the display among its arguments, as
# a display manager or startx starts it. It is there before the command starts, and ends with
# the namespace.
if [ "$X_OWNER" != none ]; then
    uid=0
    [ "$X_OWNER" = user ] && uid=4242
    cp /bin/bash "$FIX/bin/Xorg"
    setpriv --reuid=$uid --regid=$uid --clear-groups -- \
        "$FIX/bin/Xorg" -c 'while :; do sleep 3600; done' Xorg ":$X_DISPLAY" -nolisten tcp </dev/null >/dev/null 2>&1 &
    xpid=$!
    for _ in $(seq 100); do
        [ "$(cat /proc/$xpid/comm 2>/dev/null)" = Xorg ] && break
        sleep 0.01
    done
    [ "$(cat /proc/$xpid/comm 2>/dev/null)" = Xorg ] || harness_broken "the stand-in X server did not start"
fi

if [ -n "$ETC_DEFAULT" ]; then
    mount -t tmpfs -o size=1m,mode=755 gpu-fixture-etc-default /etc/default
fi
[ -n "$NO_SYSTEM_BUS" ] && export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$FIX/no-system-bus
# Tests that must run only here look for this.
export GPU_FIXTURE=$FIX

# Probes scan the PCI bus with a part of libhd's probing only; on every machine made up here
# that must give the records libhd's default scan gives (autotests/lib/probeequalitytest.cpp,
# named by CTest for every test).
if [ -n "${GPU_FIXTURE_PROBE_CHECK:-}" ]; then
    if ! "$GPU_FIXTURE_PROBE_CHECK" >"$FIX/probe-check.out" 2>&1; then
        echo "gpu-fixture.sh: on this machine the probes' PCI scan differs from libhd's default scan:" >&2
        cat "$FIX/probe-check.out" >&2
        exit 1
    fi
    unset GPU_FIXTURE_PROBE_CHECK
fi
exec "$@"
