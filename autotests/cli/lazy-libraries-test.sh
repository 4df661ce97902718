#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The listing actions start without the package database and helper libraries; the other
# actions load them, with their module, when they run. Runs inside harness/gpu-fixture.sh.
# Usage: lazy-libraries-test.sh PROGRAM
set -u
CLI=${1:?path of corvo-admin-driver}
failed=0
LATE='corvo-admin-driver-changes|libQApt|libKF5AuthCore|libapt-pkg'

# The files the dynamic loader opens for one run.
loaded() {
    LD_DEBUG=files "$CLI" "$@" 2>&1 >/dev/null | sed -n 's/.*file=\([^ ]*\).*/\1/p' | sort -u
}

for action in "list-gpus" "list-modules PCI:00@0000:02:0" "list-xorg PCI:00@0000:02:0" "-a"; do
    # shellcheck disable=SC2086
    late=$(loaded $action | grep -E "$LATE")
    if [ -n "$late" ]; then
        echo "FAIL: $action loads $(echo $late)"
        failed=1
    else
        echo "PASS: $action"
    fi
done
for action in "list-packages nothing" "set-module nothing i915" "intel-accel-set-guc 9"; do
    # shellcheck disable=SC2086
    seen=$(loaded $action)
    for lib in corvo-admin-driver-changes libQApt libKF5AuthCore; do
        if ! grep -q "$lib" <<<"$seen"; then
            echo "FAIL: $action does not load $lib"
            failed=1
            continue 2
        fi
    done
    echo "PASS: $action"
done
exit $failed
