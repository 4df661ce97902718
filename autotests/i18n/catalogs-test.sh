#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The installed catalogues are the ones the command line loads: the staged corvo-admin-driver
# runs on a made-up Intel machine (harness/gpu-fixture.sh) with the staged share/locale
# mounted at /usr/share/locale, where ki18n_install puts the catalogues on a real system, and
# with a fixture APT universe that lacks the Intel acceleration packages. Each row gives the
# locale (LANG), the language list (LANGUAGE), the arguments, a line the output must hold (a
# final "*" stands for any rest of the line) and the exit status. Gettext reads LANGUAGE only
# when the locale is not "C": C.UTF-8 is the locale every Debian system has.
# Usage: catalogs-test.sh STAGE HARNESS_DIR
# Exit: 0 every row as expected, 1 a row differs, 77 no namespace could be made (skipped).
set -uo pipefail
STAGE=$(cd "${1:?staged installation}" && pwd)
HARNESS=$(cd "${2:?harness folder}" && pwd)
. "$HARNESS/skip.sh"
CLI=$STAGE/usr/bin/corvo-admin-driver
[ -x "$CLI" ] || skip_test "no staged installation in $STAGE (scripts/build.sh stages one)"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failed=0

for domain in corvo-video-driver drivers-module-lib corvo_kcm_video_driver; do
    if [ ! -s "$STAGE/usr/share/locale/de/LC_MESSAGES/$domain.mo" ]; then
        echo "FAIL: the German catalogue of $domain is not installed (share/locale/de/LC_MESSAGES/$domain.mo)"
        failed=1
    fi
done

# LANG | LANGUAGE | arguments | expected line | exit status
cat >"$WORK/rows" <<'EOF'
C.UTF-8 | de | -a | list-gpus: Listet die verfügbaren Grafikkarten auf | 0
C.UTF-8 | de | -a | intel-accel-set-fbc: Legt die Framebuffer-Komprimierung (FBC) der Intel-Grafikkarte fest. | 0
C.UTF-8 | de_AT | -a | list-gpus: Listet die verfügbaren Grafikkarten auf | 0
C.UTF-8 | fr:de | -a | list-gpus: Listet die verfügbaren Grafikkarten auf | 0
C.UTF-8 | fr | -a | list-gpus: Lists available GPUs | 0
C.UTF-8 | de | list-modules PCI:00@0000:02:0 | Kernelmodule für PCI:00@0000:02:0 | 0
C.UTF-8 | de | list-modules NoSuchGpu | Zum Argument NoSuchGpu wurde keine Grafikkarte nach Bus-ID / Modell / Hersteller gefunden | 255
C.UTF-8 | de | set-module PCI:00@0000:02:0 nosuchmodule | Das Modul nosuchmodule für die Grafikkarte PCI:00@0000:02:0 wurde nicht gefunden | 255
C.UTF-8 | de | intel-accel-set-guc 9 | Ungültiges Argument: 9. Verwenden Sie die Werte 0, 1, 2 oder 3. | 255
C.UTF-8 | de | intel-accel-disable | Fehler: Die für die Intel-Hardwarebeschleunigung nötigen Pakete fehlen: * | 255
C | de | -a | list-gpus: Lists available GPUs | 0
EOF

mkdir -p "$WORK/apt"
APT_FIXTURE_INSTALLED="" "$HARNESS/apt-fixture.sh" "$WORK/apt" >"$WORK/apt.log" 2>&1 || {
    cat "$WORK/apt.log"
    harness_broken "the fixture APT universe could not be built"
}

# Inside the namespace: each row's output and status, as "ROW n", the output, "[exit N]".
cat >"$WORK/rows.sh" <<'EOF'
set -u
mount --bind "$STAGE/usr/share/locale" /usr/share/locale || exit 3
n=0
while IFS='|' read -r locale lang args expected status; do
    n=$((n + 1))
    echo "ROW $n"
    # shellcheck disable=SC2086
    env -u LC_ALL -u LC_MESSAGES LANG=$(echo $locale) LANGUAGE=$(echo $lang) "$CLI" $args 2>&1
    echo "[exit $?]"
done <"$WORK/rows"
EOF
"$HARNESS/gpu-fixture.sh" --gpu 0000:00:02.0,8086,5917,030000,i915,1043,1a00 --drm 0000:00:02.0 --no-system-bus \
    -- env STAGE="$STAGE" CLI="$CLI" WORK="$WORK" APT_CONFIG="$WORK/apt/apt.conf" bash "$WORK/rows.sh" >"$WORK/out" 2>&1
status=$?
if [ $status = 77 ]; then
    cat "$WORK/out"
    exit 77
fi
if [ $status = 3 ]; then
    cat "$WORK/out"
    harness_broken "the staged catalogues could not be mounted at /usr/share/locale"
fi

n=0
while IFS='|' read -r locale lang args expected exit_status; do
    n=$((n + 1))
    locale=$(echo $locale) lang=$(echo $lang) args=$(echo $args) exit_status=$(echo $exit_status)
    expected=${expected# } expected=${expected% }
    # The output of this row: the lines after "ROW n" up to its "[exit N]".
    out=$(awk -v row="ROW $n" '$0 == row {on = 1; next} on && /^\[exit [0-9]+\]$/ {print; exit} on' "$WORK/out")
    seen_status=$(tail -n 1 <<<"$out" | sed -n 's/^\[exit \([0-9]*\)\]$/\1/p')
    matched=false
    while IFS= read -r line; do
        if [[ "$expected" == *'*' ]]; then
            [[ "$line" == "${expected%\*}"* ]] && matched=true
        else
            [ "$line" = "$expected" ] && matched=true
        fi
    done <<<"$out"
    if $matched && [ "$seen_status" = "$exit_status" ]; then
        echo "PASS: LANG=$locale LANGUAGE=$lang $args"
    else
        echo "FAIL: LANG=$locale LANGUAGE=$lang $args: expected the line \"$expected\" and exit $exit_status; seen (exit ${seen_status:-none}):"
        sed 's/^/    /' <<<"$out"
        failed=1
    fi
done <"$WORK/rows"
exit $failed
