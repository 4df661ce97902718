#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# with-glmark2.sh stub FIXTURES COMMAND [ARG...]
# with-glmark2.sh real COMMAND [ARG...]
# Runs COMMAND in a private mount namespace with /usr/bin as an overlay whose writes vanish
# with the namespace; the host is never touched. Needs root; otherwise skipped (harness/skip.sh).
#
# stub: /usr/bin/glmark2 replays output recorded from the real glmark2 (FIXTURES/*.out, see
#   FIXTURES/README), as the caller chooses through the environment of each start:
#     GLMARK2_STUB_PROBE   exit status of the "-h" probe (default 0)
#     GLMARK2_STUB_OUTPUT  names of recorded outputs printed one after the other
#     GLMARK2_STUB_END     exit:N, signal:NAME, or hang (waits until it is ended)
#   and /usr/bin/nvidia-smi prints NVIDIA_SMI_STUB_OUTPUT ("|" separates the lines, one per
#   adapter), or fails with status 9 when that is unset.
# real: /usr/bin/glmark2 is the real glmark2 behind a wrapper that makes a run without
#   arguments (the page's) a one-second benchmark (-b build:duration=1); it draws on a private
#   Xvfb whose display COMMAND gets as DISPLAY.
set -u
. "$(dirname "$0")/../harness/skip.sh"
if [ "${GLMARK2_HARNESS_INSIDE:-}" != 1 ]; then
    [ "$(id -u)" = 0 ] || skip_test "needs root for a private mount namespace"
    /usr/bin/unshare -m --propagation private /bin/true 2>/dev/null || skip_test "no private mount namespace here"
    GLMARK2_HARNESS_INSIDE=1 exec /usr/bin/unshare -m --propagation private "$0" "$@"
fi
unset GLMARK2_HARNESS_INSIDE
mode=$1
shift
case "$mode" in
stub)
    fixtures=$(cd "$1" && pwd) || harness_broken "no fixture folder $1"
    shift
    ;;
real)
    [ -x /usr/bin/glmark2 ] || skip_test "glmark2 is not installed (package glmark2-x11)"
    [ -x /usr/bin/Xvfb ] || skip_test "Xvfb is not installed (package xvfb)"
    ;;
*)
    harness_broken "unknown mode $mode"
    ;;
esac

scratch=$(mktemp -d /tmp/glmark2-harness.XXXXXX)
xvfb=
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    umount /usr/bin 2>/dev/null
    umount "$scratch/realbin" 2>/dev/null
    umount "$scratch" 2>/dev/null
    rmdir "$scratch"
}
trap cleanup EXIT
mount -t tmpfs glmark2-harness "$scratch" || harness_broken "cannot mount a tmpfs on $scratch"
mkdir -p "$scratch/upper" "$scratch/work" "$scratch/realbin"

if [ "$mode" = real ]; then
    # The real programs stay reachable below the overlay.
    mount --bind /usr/bin "$scratch/realbin" || harness_broken "cannot bind /usr/bin"
    /usr/bin/Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$scratch/display" 2>"$scratch/xvfb.log" &
    xvfb=$!
    for _ in $(seq 100); do
        [ -s "$scratch/display" ] && break
        sleep 0.1
    done
    [ -s "$scratch/display" ] || harness_broken "Xvfb did not start: $(cat "$scratch/xvfb.log")"
    export DISPLAY=":$(head -n1 "$scratch/display")"
fi

mount -t overlay overlay -o "lowerdir=/usr/bin,upperdir=$scratch/upper,workdir=$scratch/work" /usr/bin ||
    harness_broken "cannot lay an overlay over /usr/bin"

if [ "$mode" = real ]; then
    cat >/usr/bin/glmark2 <<WRAPPER
#!/bin/sh
[ "\$#" -eq 0 ] && exec $scratch/realbin/glmark2 -b build:duration=1
exec $scratch/realbin/glmark2 "\$@"
WRAPPER
else
    rm -f /usr/bin/glmark2
    cat >/usr/bin/glmark2 <<STUB
#!/bin/sh
if [ "\$1" = -h ]; then
    cat "$fixtures/help.out"
    exit "\${GLMARK2_STUB_PROBE:-0}"
fi
for name in \${GLMARK2_STUB_OUTPUT:-}; do
    cat "$fixtures/\$name"
done
case "\${GLMARK2_STUB_END:-exit:0}" in
exit:*) exit "\${GLMARK2_STUB_END#exit:}" ;;
signal:*)
    ulimit -c 0
    kill -s "\${GLMARK2_STUB_END#signal:}" \$\$
    exit 99
    ;;
hang) exec sleep 600 ;;
esac
STUB
    cat >/usr/bin/nvidia-smi <<'STUB'
#!/bin/sh
[ -n "${NVIDIA_SMI_STUB_OUTPUT:-}" ] || exit 9
printf '%s\n' "$NVIDIA_SMI_STUB_OUTPUT" | tr '|' '\n'
STUB
    chmod 755 /usr/bin/nvidia-smi
fi
chmod 755 /usr/bin/glmark2
# Tells the stub test that /usr/bin/glmark2 is the namespace's own, which it may change.
[ "$mode" = stub ] && export GLMARK2_STUB_NAMESPACE=1
"$@"
