#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs the staged bash completion of corvo-admin-driver against the staged program on a made-up
# laptop (harness/gpu-fixture.sh): each row is a command line up to the cursor and the words the
# completion must offer, in order. Usage: bash-test.sh STAGE HARNESS
# Exit: 0 all rows as expected, 1 a difference, 77 no namespace could be made (skipped).
set -uo pipefail
STAGE=$(cd "${1:?staged installation}" && pwd)
HARNESS=${2:?path of gpu-fixture.sh}
. "$(dirname "$HARNESS")/skip.sh"
. "$(dirname "$HARNESS")/laptop-machine.sh"
COMPLETION=$STAGE/usr/share/bash-completion/completions/corvo-admin-driver
[ -f "$COMPLETION" ] || { echo "FAIL: $COMPLETION is not staged (run scripts/build.sh)"; exit 1; }
[ -f /usr/share/bash-completion/bash_completion ] || skip_test "bash-completion is not installed"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# Rows: LINE<TAB>OFFERED, the offered words separated by "|" (empty: nothing offered). The GPUs
# are the NVIDIA card "nVidia GP106 [GeForce GTX 1060 6GB]" (nVidia Corporation, on nouveau,
# X driver unknown: set-xorg refuses none) at PCI:01@0000:00:0 and the "Intel UHD Graphics 620" (Intel Corporation, on
# i915, X driver modesetting) at PCI:00@0000:02:0, probed in that order.
ALL_ACTIONS='intel-accel-disable|intel-accel-enable|intel-accel-set-fbc|intel-accel-set-guc|intel-accel-status|list-gpus|list-modules|list-packages|list-xorg|set-module|set-xorg'
ALL_GPUS='PCI:01@0000:00:0|nVidia GP106 [GeForce GTX 1060 6GB]|nVidia Corporation|PCI:00@0000:02:0|Intel UHD Graphics 620|Intel Corporation'
cat >"$WORK/rows" <<EOF2
corvo-admin-driver 	$ALL_ACTIONS
corvo-admin-driver list-	list-gpus|list-modules|list-packages|list-xorg
corvo-admin-driver intel-accel-s	intel-accel-set-fbc|intel-accel-set-guc|intel-accel-status
corvo-admin-driver --j	--json
corvo-admin-driver -	--actions|-a|--help|-h|--help-all|--json
corvo-admin-driver --json list-m	list-modules
corvo-admin-driver nope	
corvo-admin-driver list-modules 	$ALL_GPUS
corvo-admin-driver --json list-packages 	$ALL_GPUS
corvo-admin-driver list-modules nVidia	nVidia GP106 [GeForce GTX 1060 6GB]|nVidia Corporation
corvo-admin-driver set-module nVidia\ GP	nVidia GP106 [GeForce GTX 1060 6GB]
corvo-admin-driver set-module 'nVidia GP106 [Ge	nVidia GP106 [GeForce GTX 1060 6GB]
corvo-admin-driver set-xorg "Intel 	Intel UHD Graphics 620|Intel Corporation
corvo-admin-driver list-xorg PCI:0	01@0000:00:0|00@0000:02:0
corvo-admin-driver list-xorg PCI:00@0000:0	02:0
corvo-admin-driver set-module "nVidia GP106 [GeForce GTX 1060 6GB]" 	nouveau|nvidia|nvidia_drm
corvo-admin-driver set-module nVidia\ Corporation nvidia	nvidia|nvidia_drm
corvo-admin-driver set-module PCI:00@0000:02:0 	i915
corvo-admin-driver set-module 'Intel Corporation' i	i915
corvo-admin-driver set-xorg "Intel UHD Graphics 620" 	intel|nvidia
corvo-admin-driver set-xorg nVidia\ Corporation 	modesetting|intel|nvidia
corvo-admin-driver set-module Nope 	
corvo-admin-driver set-module "\$(touch $WORK/evaluated)" 	
corvo-admin-driver intel-accel-set-guc 	0|1|2|3
corvo-admin-driver intel-accel-set-fbc 	0|1
corvo-admin-driver list-gpus 	
corvo-admin-driver list-modules Intel\ UHD\ Graphics\ 620 	
corvo-admin-driver set-module 'nVidia Corporation' nvidia_drm 	
EOF2

# In the namespace: each row's line split into COMP_WORDS as bash splits it for completion
# (at unquoted blanks, and around the word-break character ":"), the completion function called
# as bash calls it, COMPREPLY printed as LINE<TAB>OFFERED.
cat >"$WORK/complete.sh" <<'EOF2'
. /usr/share/bash-completion/bash_completion
. "$1"
split_words() {
    local line=$1 c quote= word= i
    COMP_WORDS=()
    for ((i = 0; i < ${#line}; i++)); do
        c=${line:i:1}
        if [[ -n $quote ]]; then
            word+=$c
            [[ $c == "$quote" ]] && quote=
        elif [[ $c == '\' ]]; then
            word+=$c${line:i+1:1}; i=$((i + 1))
        elif [[ $c == [\'\"] ]]; then
            word+=$c; quote=$c
        elif [[ $c == ' ' ]]; then
            [[ -n $word ]] && COMP_WORDS+=("$word"); word=
        elif [[ $c == : ]]; then
            [[ -n $word ]] && COMP_WORDS+=("$word"); COMP_WORDS+=(:); word=
        else
            word+=$c
        fi
    done
    COMP_WORDS+=("$word")
}
while IFS=$'\t' read -r line expected; do
    split_words "$line"
    COMP_LINE=$line COMP_POINT=${#line} COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_TYPE=9 COMP_KEY=9
    COMPREPLY=()
    _corvo_admin_driver corvo-admin-driver "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    offered=$(IFS='|'; printf '%s' "${COMPREPLY[*]}")
    printf '%s\t%s\n' "$line" "$offered"
done <"$2"
EOF2

"$HARNESS" \
    "${LAPTOP_MACHINE[@]}" \
    -- env PATH="$STAGE/usr/bin:$PATH" bash "$WORK/complete.sh" "$COMPLETION" "$WORK/rows" >"$WORK/seen" 2>"$WORK/stderr"
status=$?
[ $status = 77 ] && { cat "$WORK/stderr"; exit 77; }
if [ $status != 0 ]; then
    echo "FAIL: the completion run ended with status $status"
    cat "$WORK/stderr"
    exit 1
fi
failed=0
while IFS=$'\t' read -r line expected && IFS=$'\t' read -r seen_line seen <&3; do
    if [ "$line" != "$seen_line" ] || [ "$expected" != "$seen" ]; then
        printf 'FAIL: %s\n  expected: %s\n  offered:  %s\n' "$line" "$expected" "$seen"
        failed=$((failed + 1))
    else
        printf 'PASS: %s\n' "$line"
    fi
done <"$WORK/rows" 3<"$WORK/seen"
rows=$(wc -l <"$WORK/rows")
[ "$(wc -l <"$WORK/seen")" = "$rows" ] || { echo "FAIL: $(wc -l <"$WORK/seen") results for $rows rows"; cat "$WORK/stderr"; failed=$((failed + 1)); }
[ -e "$WORK/evaluated" ] && { echo "FAIL: the completion evaluated a command substitution it was given"; failed=$((failed + 1)); }
[ -s "$WORK/stderr" ] && { echo "stderr of the completion run:"; cat "$WORK/stderr"; }
echo "$((rows - failed)) of $rows rows as expected"
[ $failed = 0 ]
