#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the Debian packages (scripts/package.sh) and, in a private mount namespace whose /usr,
# /etc and /var are overlays on the host's (their changes land in a temporary folder and vanish
# with the namespace), installs them with apt-get from the .deb files alone, without a download,
# checks the installed programs, the control module under Xvfb and the polkit policy, purges them
# and compares the file lists before and after. lintian checks the packages first. Usage: debian-test.sh SOURCE WORKDIR HARNESS
set -uo pipefail
SOURCE=$(cd "${1:?source folder}" && pwd)
WORKDIR=${2:?work folder}
HARNESS=$(cd "$(dirname "${3:?gpu-fixture.sh}")" && pwd)/$(basename "$3")
. "$(dirname "$HARNESS")/skip.sh"
PACKAGES=(corvo-admin-driver corvo-video-driver-helper corvo-video-driver-l10n corvo-video-driver-manager)
HELPER_ID=org.corvo.kcm.videodriver

if [ "${PACKAGING_TEST_INNER:-}" != 1 ]; then
    [ "$(id -u)" = 0 ] || skip_test "installing packages into an overlay of / needs root"
    for tool in dpkg-buildpackage dh lintian apt-get unshare Xvfb kcmshell5 kbuildsycoca5 xdotool dbus-run-session python3; do
        command -v "$tool" >/dev/null || skip_test "$tool is not installed"
    done
    for package in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q ' installed$' \
            && skip_test "$package is installed on this machine; its purge could not be compared"
    done
    mkdir -p "$WORKDIR"
    WORKDIR=$(cd "$WORKDIR" && pwd)
    start=$(date +%s)
    # Only the packages themselves, so that ./*.deb is what is installed.
    if ! DEB_BUILD_OPTIONS="noautodbgsym ${DEB_BUILD_OPTIONS:-}" "$SOURCE/scripts/package.sh" "$WORKDIR/debs" >"$WORKDIR/package.log" 2>&1; then
        echo "FAIL: scripts/package.sh failed; the end of its log ($WORKDIR/package.log):"
        tail -n 40 "$WORKDIR/package.log"
        exit 1
    fi
    echo "packages built in $(($(date +%s) - start)) s"
    built=$(cd "$WORKDIR/debs" && ls -1 *.deb | sed 's/_.*//' | sort | tr '\n' ' ')
    if [ "$built" != "${PACKAGES[*]} " ]; then
        echo "FAIL: built the packages $built; expected ${PACKAGES[*]}"
        exit 1
    fi
    # lintian runs as root here (it warns about that on standard error).
    if lintian --fail-on error,warning "$WORKDIR"/debs/*.changes >"$WORKDIR/lintian.log" 2>"$WORKDIR/lintian.err"; then
        echo "PASS: lintian reports no error or warning"
        sed 's/^/  /' "$WORKDIR/lintian.log"
    else
        echo "FAIL: lintian:"
        cat "$WORKDIR/lintian.log" "$WORKDIR/lintian.err"
        exit 1
    fi
    start=$(date +%s)
    PACKAGING_TEST_INNER=1 unshare -m --propagation private -- "$0" "$SOURCE" "$WORKDIR" "$HARNESS"
    status=$?
    echo "installed, checked and purged in $(($(date +%s) - start)) s"
    exit $status
fi

# ---- inside the namespace ----
failed=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

# The namespace's own files, on a tmpfs that vanishes with it.
scratch=$WORKDIR/namespace
mkdir -p "$scratch"
mount -t tmpfs tmpfs "$scratch" || harness_broken "no tmpfs on $scratch"
for dir in usr etc var; do
    mkdir -p "$scratch/$dir.upper" "$scratch/$dir.work"
    mount -t overlay overlay -o "lowerdir=/$dir,upperdir=$scratch/$dir.upper,workdir=$scratch/$dir.work" "/$dir" \
        || harness_broken "cannot lay an overlay over /$dir"
done
# No bus, lock or runtime file of the host is seen or touched.
mount -t tmpfs tmpfs /run || harness_broken "no tmpfs on /run"
mkdir -p /run/lock

# Every file, folder and link below /usr, /etc and /var with its type, but the package
# manager's own records, logs and caches, which installing and purging rightly change.
file_list() {
    find /usr /etc /var -xdev \( -path /var/lib/dpkg -o -path /var/lib/apt -o -path /var/log -o -path /var/cache \
        -o -path /etc/ld.so.cache \) -prune -o -printf '%y %p\n' | sort
}
file_list >"$scratch/before"

export DEBIAN_FRONTEND=noninteractive
cd "$WORKDIR/debs" || harness_broken "no folder $WORKDIR/debs"
# Recommends are left out: they are not part of the CI machine, which has no network. Every
# dependency must be installed already (scripts/install-deps.sh): apt-get may install nothing
# but the four packages, which it has as files, so it never needs the network.
apt-get install --simulate --no-install-recommends ./*.deb >"$scratch/simulate.log" 2>&1
others=$(sed -n 's/^Inst \([^ ]*\) .*/\1/p' "$scratch/simulate.log" | grep -vxF "$(printf '%s\n' "${PACKAGES[@]}")")
if [ -n "$others" ]; then
    fail "apt-get would download dependencies that scripts/install-deps.sh does not install:" $others
    exit 1
fi
if apt-get install -y --no-install-recommends -o Dpkg::Use-Pty=0 ./*.deb >"$scratch/install.log" 2>&1; then
    pass "apt-get install ./*.deb, nothing but the packages themselves"
else
    fail "apt-get install ./*.deb:"
    cat "$scratch/install.log"
    exit 1
fi
for package in "${PACKAGES[@]}"; do
    [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" = "install ok installed" ] \
        && pass "$package installed" || fail "$package is not installed"
done

# The command line, in English and with the German catalogues of the l10n package.
actions=$(LC_ALL=C corvo-admin-driver -a 2>&1)
if [ $? = 0 ] && [ "$(grep -c '^[a-z-]*: ' <<<"$actions")" = 11 ] && grep -qx 'list-gpus: Lists available GPUs' <<<"$actions"; then
    pass "corvo-admin-driver -a lists the eleven actions"
else
    fail "corvo-admin-driver -a printed:"; echo "$actions"
fi
german=$(LANG=C.UTF-8 LANGUAGE=de corvo-admin-driver -a 2>&1)
if [ "$(wc -l <<<"$german")" = 11 ] && ! grep -qx 'list-gpus: Lists available GPUs' <<<"$german"; then
    pass "corvo-admin-driver -a in German"
else
    fail "LANGUAGE=de corvo-admin-driver -a is not translated:"; echo "$german"
fi
[ "$(command -v corvo-video-driver-restore)" = /usr/sbin/corvo-video-driver-restore ] && corvo-video-driver-restore --help >/dev/null \
    && pass "corvo-video-driver-restore --help" || fail "corvo-video-driver-restore is not runnable from /usr/sbin"

# The helper as KAuth and D-Bus find it: the policy at polkit's compiled-in folder with the
# five actions, the activation file naming the installed helper, the bus policy letting it own
# its name.
policy=/usr/share/polkit-1/actions/$HELPER_ID.policy
ids=$(python3 - "$policy" <<'PY' 2>&1
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
print(" ".join(sorted(a.get("id") for a in root.iter("action"))))
PY
)
expected_ids="$HELPER_ID.acceleration $HELPER_ID.install $HELPER_ID.remove $HELPER_ID.replace $HELPER_ID.tearing"
[ "$ids" = "$expected_ids" ] && pass "polkit policy $policy with the five actions" || fail "polkit policy $policy: $ids"
service=/usr/share/dbus-1/system-services/$HELPER_ID.service
exec_path=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$service" 2>/dev/null)
[ -n "$exec_path" ] && [ -x "$exec_path" ] && dpkg -S "$exec_path" 2>/dev/null | grep -q '^corvo-video-driver-helper:' \
    && pass "D-Bus activation starts $exec_path of corvo-video-driver-helper" || fail "$service names no installed helper ('$exec_path')"
grep -q "<allow own=\"$HELPER_ID\"" "/usr/share/dbus-1/system.d/$HELPER_ID.conf" 2>/dev/null \
    && pass "system bus policy lets the helper own $HELPER_ID" || fail "no system bus policy for $HELPER_ID"

# Manual pages and completion where man and bash-completion look.
for page in /usr/share/man/man1/corvo-admin-driver.1.gz /usr/share/man/man8/corvo-video-driver-restore.8.gz; do
    zcat "$page" 2>/dev/null | grep -q '^\.TH ' && pass "manual page $page" || fail "no manual page $page"
done
completions=$(pkg-config --variable=completionsdir bash-completion 2>/dev/null || echo /usr/share/bash-completion/completions)
grep -q '^complete -F _corvo_admin_driver corvo-admin-driver$' "$completions/corvo-admin-driver" 2>/dev/null \
    && pass "bash completion in $completions" || fail "no bash completion in $completions"

# The control module as the System Settings host finds it: kcmshell5 by its name, under Xvfb,
# on a made-up machine (the probe never sees the host's hardware).
cat >"$scratch/kcm.sh" <<'KCM'
work=$1
exec 5>"$work/display"
Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xpid=$!
exec 5>&-
for _ in $(seq 1 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; kill $xpid; exit 1; }
export DISPLAY=:$(head -n1 "$work/display")
mkdir -p "$work/home" "$work/cache" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
export HOME=$work/home XDG_CACHE_HOME=$work/cache XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
unset XDG_DATA_DIRS QT_PLUGIN_PATH QT_QPA_PLATFORM
kbuildsycoca5 --noincremental >"$work/sycoca.log" 2>&1
setsid dbus-run-session -- kcmshell5 corvo_kcm_video_driver >"$work/kcmshell.log" 2>&1 &
kpid=$!
status=1
for _ in $(seq 1 150); do
    if xdotool search --onlyvisible --name '^Driver Manager' >/dev/null 2>&1; then status=0; break; fi
    kill -0 $kpid 2>/dev/null || break
    sleep 0.1
done
[ $status = 0 ] || { echo "no window \"Driver Manager\" within 15 s; kcmshell5 said:"; cat "$work/kcmshell.log"; }
kill -- -$kpid 2>/dev/null; wait $kpid 2>/dev/null
kill $xpid 2>/dev/null; wait $xpid 2>/dev/null
exit $status
KCM
mkdir -p "$scratch/kcm"
if "$HARNESS" --gpu 0000:00:02.0,8086,5917,030000,i915,1043,1a00 \
    --alias 'pci:v00008086d00005917sv*sd*bc03sc*i* i915' \
    --module kernel/drivers/gpu/drm/i915/i915.ko=i915 --drm 0000:00:02.0 \
    --xlog 'root=[    20.123] (II) modeset(0): Output eDP-1 connected\n' --xorg 1:modesetting_drv.so \
    -- bash "$scratch/kcm.sh" "$scratch/kcm" >"$scratch/kcm.log" 2>&1; then
    pass "kcmshell5 corvo_kcm_video_driver opens the module under Xvfb"
else
    fail "kcmshell5 corvo_kcm_video_driver:"; cat "$scratch/kcm.log"
fi

# Purge: nothing the packages brought may stay.
if apt-get purge -y -o Dpkg::Use-Pty=0 "${PACKAGES[@]}" >"$scratch/purge.log" 2>&1; then
    pass "apt-get purge"
else
    fail "apt-get purge:"; cat "$scratch/purge.log"
fi
for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'installed' && fail "$package is still installed"
done
file_list >"$scratch/after"
if diff -u "$scratch/before" "$scratch/after" >"$scratch/diff"; then
    pass "after the purge /usr, /etc and /var hold the files they held before"
else
    fail "the purge left a difference (- before, + after):"; cat "$scratch/diff"
fi

echo "$failed failed"
[ $failed = 0 ]
