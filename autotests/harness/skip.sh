# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by the harnesses and the shell test suites.
#
# skip_test REASON...: this test cannot run here. On a developer's machine (no root, no
# namespaces, a tool missing) it ends with status 77, which CTest shows as SKIPPED
# (SKIP_RETURN_CODE 77); in CI (CI=true: root on Debian 12 with every package of
# scripts/install-deps.sh) all of that is there, so a missing piece is a failure (status 1).
skip_test() {
    if [ "${CI:-}" = true ]; then
        echo "FAIL: $* (CI runs every test; nothing may be skipped there)" >&2
        exit 1
    fi
    echo "SKIP: $*" >&2
    exit 77
}
# harness_broken REASON...: a mount, the bus or a daemon failed once the harness could start;
# that is a fault of the set-up (or of the machine), never a skip.
harness_broken() {
    echo "FAIL: $*" >&2
    exit 1
}
