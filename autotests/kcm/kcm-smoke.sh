#!/bin/bash
# Opens the installed control module in the real kcmshell5 on a private X server and takes a
# screenshot. Passes when a window titled "Driver Manager" appears.
# Usage: kcm-smoke.sh BUILD_DIR   (stages an installation into BUILD_DIR/stage if there is none)
# Exit codes: 0 pass, 1 fail, 77 skipped (no Xvfb or kcmshell5).
set -u
BUILD=$(cd "${1:?usage: kcm-smoke.sh BUILD_DIR}" && pwd)
STAGE=$BUILD/stage
SHOT=$BUILD/kcm-smoke.png
ERRSHOT=$BUILD/kcm-smoke-error.png
LOG=$BUILD/kcm-smoke.log
TITLE="Driver Manager"

for tool in Xvfb kcmshell5 kbuildsycoca5 xwininfo xwd dbus-run-session; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

plugindir=$(qtpaths --plugin-dir 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt5/plugins)
if [ ! -f "$STAGE$plugindir/corvo_kcm_video_driver.so" ]; then
    DESTDIR=$STAGE cmake --install "$BUILD" >/dev/null || { echo "FAIL: cannot stage the installation"; exit 1; }
fi
[ -f "$STAGE$plugindir/corvo_kcm_video_driver.so" ] || { echo "FAIL: plug-in not staged under $STAGE$plugindir"; exit 1; }

work=$(mktemp -d /tmp/kcm-smoke.XXXXXX)
xpid=""
kpid=""
cleanup() {
    [ -n "$kpid" ] && kill "$kpid" 2>/dev/null && wait "$kpid" 2>/dev/null
    [ -n "$xpid" ] && kill "$xpid" 2>/dev/null && wait "$xpid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to the given descriptor.
exec 5>"$work/display"
Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
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
kbuildsycoca5 --noincremental >"$work/sycoca.log" 2>&1

start=$(date +%s%N)
dbus-run-session -- kcmshell5 corvo_kcm_video_driver >"$LOG" 2>&1 &
kpid=$!

found=""
for _ in $(seq 1 100); do
    if xwininfo -root -tree 2>/dev/null | grep -q "\"$TITLE"; then
        found=yes
        break
    fi
    kill -0 "$kpid" 2>/dev/null || break
    sleep 0.1
done
shown=$(( ($(date +%s%N) - start) / 1000000 ))
# Give the probe its moment so that the picture shows its outcome.
sleep 4
xwd -root -silent | /usr/bin/convert xwd:- "$SHOT"
# Without a window manager the root picture can miss the message box, so take it on its own.
rm -f "$ERRSHOT"
errwin=$(xwininfo -root -tree | grep -E '^ +0x[0-9a-f]+ "Error' | awk '{print $1}' | head -n1)
[ -n "$errwin" ] && xwd -id "$errwin" -silent | /usr/bin/convert xwd:- "$ERRSHOT"
echo "Windows:"
xwininfo -root -tree | grep -E '^ +0x[0-9a-f]+ "' | grep -v 'Qt Selection Owner' | sed 's/^ */  /'

if [ -z "$found" ]; then
    echo "FAIL: no window titled \"$TITLE\" within 10 s; kcmshell5 log:"
    cat "$LOG"
    exit 1
fi
echo "PASS: \"$TITLE\" window after ${shown} ms; screenshot $SHOT"
[ -f "$ERRSHOT" ] && echo "message box: $ERRSHOT"
exit 0
