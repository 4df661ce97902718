#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# machine-on-bus.sh STAGE_DIR [gpu-fixture.sh OPTIONS] -- COMMAND [ARG...]
#
# Runs COMMAND on a made-up machine (autotests/harness/gpu-fixture.sh) that also has the
# privileged helper on a private system bus (kauth-bus.sh STAGE_DIR), with every path the
# helper writes to a fixture (kauth-fixture-ns.sh). The three nest in this order:
#   kauth-fixture-ns.sh → gpu-fixture.sh OPTIONS → kauth-bus.sh STAGE_DIR → COMMAND
# The helper's write fixtures come first, as they put a tmpfs on the X driver folders that the
# machine fills afterwards. The module tree's mount point is made in the overlay of /usr/lib
# beforehand: otherwise gpu-fixture.sh would lay a second overlay over /usr/lib, and the
# helper folder kauth-bus.sh overlays below it would stack deeper than the kernel allows.
# Exit status: COMMAND's; 77 (CTest SKIP_RETURN_CODE) when one of the harnesses cannot run here.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
HARNESS=$HERE

if [ "${MACHINE_ON_BUS_INSIDE:-}" != 1 ]; then
    [ $# -ge 3 ] || { echo "usage: machine-on-bus.sh STAGE_DIR [gpu-fixture options] -- COMMAND [ARG...]" >&2; exit 2; }
    MACHINE_ON_BUS_INSIDE=1 exec "$HARNESS/kauth-fixture-ns.sh" "$0" "$@"
fi
unset MACHINE_ON_BUS_INSIDE

STAGE=$1
shift
OPTS=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    OPTS+=("$1")
    shift
done
[ "${1:-}" = -- ] && shift
[ $# -gt 0 ] || { echo "machine-on-bus.sh: no command given" >&2; exit 2; }

mkdir -p /usr/lib/modules || { echo "machine-on-bus.sh: cannot make /usr/lib/modules in the fixture overlay" >&2; exit 1; }
exec "$HARNESS/gpu-fixture.sh" "${OPTS[@]}" -- "$HARNESS/kauth-bus.sh" "$STAGE" "$@"
