#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Opens the installed control module in the real kcmshell5 on a private X server, on a made-up
# machine with two adapters (autotests/harness/gpu-fixture.sh: an Intel UHD 620 on i915 and an
# NVIDIA GTX 1060 on nouveau), and takes a screenshot. Passes when a window titled
# "Driver Manager" appears and, once the probe has had its time, no other top-level window (the
# "Couldn't find any GPUs" box) came up and the module did not log that the probe found nothing.
# Usage: smoke-test.sh BUILD_DIR   (stages an installation into BUILD_DIR/stage if there is none)
# Then it opens the Advanced settings from the module's window (Alt+A, the button's mnemonic),
# shows each page of the category tree in turn and takes a picture of the dialog per page; the
# pictures must differ (each page really is shown).
# Screenshot: BUILD_DIR/kcm-smoke.png, BUILD_DIR/kcm-advanced-N.png (page N of the tree);
# kcmshell5's output: BUILD_DIR/kcm-smoke.log.
# Exit codes: 0 pass, 1 fail, 77 skipped (no Xvfb or kcmshell5, or no private mount namespace).
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/../harness/skip.sh"
BUILD=$(cd "${1:?usage: smoke-test.sh BUILD_DIR}" && pwd)
STAGE=$BUILD/stage
SHOT=$BUILD/kcm-smoke.png
ERRSHOT=$BUILD/kcm-smoke-error.png
LOG=$BUILD/kcm-smoke.log
TITLE="Driver Manager"
NO_GPUS_LOG="found no adapter"
FILLED_LOG="Window filled: "
FILLED_EXPECTED='Window filled: 2 adapters (PCI:00@0000:02:0: UHD Graphics 620; PCI:01@0000:00:0: GP106 [GeForce GTX 1060 6GB]), kernel module box enabled on "i915 (current)"'

if [ -z "${GPU_FIXTURE:-}" ]; then
    for tool in Xvfb kcmshell5 kbuildsycoca5 xwininfo xwd xdotool dbus-run-session setsid convert; do
        command -v "$tool" >/dev/null || skip_test "$tool is not installed"
    done
    plugindir=$(qtpaths --plugin-dir 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt5/plugins)
    if [ ! -f "$STAGE$plugindir/corvo_kcm_video_driver.so" ]; then
        DESTDIR=$STAGE cmake --install "$BUILD" >/dev/null || { echo "FAIL: cannot stage the installation"; exit 1; }
    fi
    [ -f "$STAGE$plugindir/corvo_kcm_video_driver.so" ] || { echo "FAIL: plug-in not staged under $STAGE$plugindir"; exit 1; }
    # Everything below runs again inside the made-up machine's namespace.
    exec "$HERE/../harness/gpu-fixture.sh" \
        --gpu 0000:01:00.0,10de,1c03,030000,nouveau,1043,85bf \
        --gpu 0000:00:02.0,8086,5917,030000,i915,1043,1a00 \
        --alias 'pci:v00008086d00005917sv*sd*bc03sc*i* i915' \
        --alias 'pci:v000010DEd*sv*sd*bc03sc*i* nouveau' \
        --alias 'pci:v000010DEd*sv*sd*bc03sc00i00* nvidia' \
        --module kernel/drivers/gpu/drm/i915/i915.ko=i915 \
        --module kernel/drivers/gpu/drm/nouveau/nouveau.ko=nouveau \
        --drm 0000:00:02.0 \
        --xlog 'root=[    20.123] (II) modeset(0): Output eDP-1 connected\n' \
        --xorg 1:modesetting_drv.so --xorg 2:nouveau_drv.so \
        -- "$0" "$BUILD"
fi

plugindir=$(qtpaths --plugin-dir 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt5/plugins)
work=$(mktemp -d /tmp/kcm-smoke.XXXXXX)
xpid=""
kpid=""
cleanup() {
    # kcmshell5 and its session bus run in a process group of their own, led by $kpid.
    [ -n "$kpid" ] && kill -- -"$kpid" 2>/dev/null && wait "$kpid" 2>/dev/null
    [ -n "$xpid" ] && kill "$xpid" 2>/dev/null && wait "$xpid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to the given descriptor. It runs under
# a lower-case name: the probe takes every process whose name holds an "X" for an X server of
# the machine, and this private server must not be the answer.
ln -s "$(command -v Xvfb)" "$work/xvfb-private"
exec 5>"$work/display"
"$work/xvfb-private" -displayfd 5 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xpid=$!
exec 5>&-
for _ in $(seq 1 50); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { echo "FAIL: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=:$(head -n1 "$work/display")

# A private home and the staged files in front of the system ones.
mkdir -p "$work/home" "$work/cache" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
export HOME=$work/home XDG_CACHE_HOME=$work/cache XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
export XDG_DATA_DIRS=$STAGE/usr/share:/usr/share
export QT_PLUGIN_PATH=$STAGE$plugindir
unset QT_QPA_PLATFORM
export QT_LOGGING_RULES="corvo.kcm.videodriver.debug=true"
kbuildsycoca5 --noincremental >"$work/sycoca.log" 2>&1

# Named top-level windows (children of the root) that are shown; Qt's helper windows and the
# client leader stay unmapped.
toplevels() {
    local line id
    xwininfo -root -children 2>/dev/null | grep -E '^ +0x[0-9a-f]+ "' | sed 's/^ *//' | while read -r line; do
        id=${line%% *}
        xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && echo "$line"
    done
}

start=$(date +%s%N)
# A module of a sanitizer build needs the sanitizer's runtime loaded first into the host
# program, which is not built with it (and whose own leaks are not this module's).
asan=()
runtime=$(find "$STAGE$plugindir" -name 'corvo_kcm_video_driver.so' -exec ldd {} + 2>/dev/null | awk '/libasan/ {print $3; exit}')
[ -n "$runtime" ] && asan=(env LD_PRELOAD="$runtime" ASAN_OPTIONS=detect_leaks=0:abort_on_error=1)
setsid dbus-run-session -- "${asan[@]}" kcmshell5 corvo_kcm_video_driver >"$LOG" 2>&1 &
kpid=$!

found=""
for _ in $(seq 1 100); do
    if toplevels | grep -q "\"$TITLE"; then
        found=yes
        break
    fi
    kill -0 "$kpid" 2>/dev/null || break
    sleep 0.1
done
shown=$(( ($(date +%s%N) - start) / 1000000 ))
# The module logs one line once the probe's result is in the widgets; the picture is taken then.
filled=""
if [ -n "$found" ]; then
    for _ in $(seq 1 100); do
        filled=$(grep -m1 "$FILLED_LOG" "$LOG")
        [ -n "$filled" ] && break
        kill -0 "$kpid" 2>/dev/null || break
        sleep 0.1
    done
    sleep 0.3
fi
xwd -root -silent | convert xwd:- "$SHOT"
windows=$(toplevels)
echo "Top-level windows:"
echo "$windows" | sed 's/^/  /'

if [ -z "$found" ]; then
    echo "FAIL: no window titled \"$TITLE\" within 10 s; kcmshell5 log:"
    cat "$LOG"
    exit 1
fi
status=0
# Without a window manager the root picture can miss a message box, so take it on its own.
rm -f "$ERRSHOT"
others=$(echo "$windows" | grep -v "\"$TITLE")
if [ -n "$others" ]; then
    errwin=$(echo "$others" | awk '{print $1}' | head -n1)
    xwd -id "$errwin" -silent | convert xwd:- "$ERRSHOT"
    echo "FAIL: another top-level window came up (screenshot $ERRSHOT):"
    echo "$others" | sed 's/^/  /'
    status=1
fi
if grep -q "$NO_GPUS_LOG" "$LOG"; then
    echo "FAIL: the module logged that the probe found no adapter:"
    grep "$NO_GPUS_LOG" "$LOG" | sed 's/^/  /'
    status=1
fi
# Both adapters listed, the adapter driving the screen chosen, and its module box enabled on
# the module in use.
if [ "${filled#*: }" != "$FILLED_EXPECTED" ]; then
    echo "FAIL: the window did not reach its filled state within 10 s"
    echo "  expected: $FILLED_EXPECTED"
    echo "  seen:     ${filled:-(no \"$FILLED_LOG\" line)}"
    status=1
fi
kill -0 "$kpid" 2>/dev/null || { echo "FAIL: kcmshell5 ended by itself; log:"; cat "$LOG"; status=1; }

# The Advanced settings, page by page.
ADV_TITLE="Advanced settings"
rm -f "$BUILD"/kcm-advanced-*.png
if [ $status = 0 ]; then
    main=$(toplevels | grep "\"$TITLE" | awk '{print $1}' | head -n1)
    xdotool windowfocus --sync "$main" key --clearmodifiers alt+a
    adv=""
    for _ in $(seq 1 50); do
        adv=$(toplevels | grep "\"$ADV_TITLE" | awk '{print $1}' | head -n1)
        [ -n "$adv" ] && break
        sleep 0.1
    done
    if [ -z "$adv" ]; then
        echo "FAIL: Alt+A in the module's window brought up no \"$ADV_TITLE\" window"
        status=1
    else
        # The first page shows at once; the category tree has the focus, and each Down shows
        # the next page (the history page is the benchmark's child, shown expanded).
        xdotool windowfocus --sync "$adv"
        for page in 1 2 3 4; do
            [ $page -gt 1 ] && xdotool key --window "$adv" Down
            sleep 0.5
            xwd -id "$adv" -silent | convert xwd:- "$BUILD/kcm-advanced-$page.png"
        done
        distinct=$(md5sum "$BUILD"/kcm-advanced-*.png | awk '{print $1}' | sort -u | wc -l)
        if [ "$distinct" != 4 ]; then
            echo "FAIL: the four pages of the advanced settings gave $distinct different pictures"
            status=1
        fi
        stray=$(toplevels | grep -v -e "\"$TITLE" -e "\"$ADV_TITLE")
        if [ -n "$stray" ]; then
            echo "FAIL: another window came up over the advanced settings:"
            echo "$stray" | sed 's/^/  /'
            status=1
        fi
        [ $status = 0 ] && echo "PASS: \"$ADV_TITLE\" opened from the module, 4 pages shown; screenshots $BUILD/kcm-advanced-{1..4}.png"
    fi
fi
[ $status = 0 ] && echo "PASS: \"$TITLE\" window after ${shown} ms, filled, no other window; screenshot $SHOT"
exit $status
