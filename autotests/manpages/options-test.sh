#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The manual pages against the programs: every option --help lists, every action -a lists and
# every argument name an action's --help shows must appear in the page, and every action the
# page describes must exist. --json, which --help does not list, must be documented as well.
# Usage: options-test.sh CLI CLI_PAGE RESTORE RESTORE_PAGE
set -uo pipefail
CLI=${1:?corvo-admin-driver} CLI_PAGE=${2:?its page} RESTORE=${3:?corvo-video-driver-restore} RESTORE_PAGE=${4:?its page}
failed=0

# The page as text: comments dropped, roff's escaped hyphens and font changes removed.
page_text() {
    grep -v '^\.\\"' "$1" | sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\(..//g'
}
# The options a --help text lists: "  -h, --help  ..." or "  --from <DATE>  ...".
help_options() {
    grep -oE '^ +-[-A-Za-z0-9]+(, -[-A-Za-z0-9]+)?' | tr ',' '\n' | tr -d ' '
}
# documented PAGE_TEXT_FILE WHAT WORD...: each WORD must appear in the page as a word of its own.
documented() {
    local text=$1 what=$2 word
    shift 2
    for word in "$@"; do
        if grep -qE -- "(^|[^-A-Za-z0-9_])$(printf '%s' "$word" | sed 's/[.[\*^$]/\\&/g')([^-A-Za-z0-9_]|$)" "$text"; then
            echo "PASS: $what $word"
        else
            echo "FAIL: $what $word is not in the manual page"
            failed=$((failed + 1))
        fi
    done
}

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export LC_ALL=C LANGUAGE=

page_text "$CLI_PAGE" >"$WORK/cli.txt"
cli_options=$("$CLI" --help | help_options)
actions=$("$CLI" -a | sed -n 's/^\([a-z0-9-]*\): .*/\1/p')
[ "$(wc -w <<<"$cli_options")" -ge 3 ] || { echo "FAIL: no options read from corvo-admin-driver --help"; exit 1; }
[ "$(wc -w <<<"$actions")" -ge 11 ] || { echo "FAIL: fewer than 11 actions read from corvo-admin-driver -a"; exit 1; }
documented "$WORK/cli.txt" "corvo-admin-driver option" $cli_options --json
documented "$WORK/cli.txt" "corvo-admin-driver action" $actions
# An action's arguments, from its usage line: "Usage: corvo-admin-driver [options] set-module <GPU> <new-module>".
for action in $actions; do
    arguments=$("$CLI" "$action" --help | sed -n 's/^Usage: .* \[options\] [a-z0-9-]*//p' | grep -oE '<[^>]+>' | tr -d '<>')
    documented "$WORK/cli.txt" "argument of $action:" $arguments
done
# The other way round: each entry of the ACTIONS section names an action of the program.
described=$(sed -n '/^\.SH ACTIONS/,/^\.SH /{/^\.TP/{n;s/^\.BI\{0,1\} \([a-z0-9\\-]*\).*/\1/p}}' "$CLI_PAGE" | sed 's/\\-/-/g')
[ -n "$described" ] || { echo "FAIL: no action entries found in the ACTIONS section"; failed=$((failed + 1)); }
for action in $described; do
    if grep -qx -- "$action" <<<"$actions"; then
        echo "PASS: the page's action $action exists"
    else
        echo "FAIL: the page describes $action, which corvo-admin-driver -a does not list"
        failed=$((failed + 1))
    fi
done

page_text "$RESTORE_PAGE" >"$WORK/restore.txt"
restore_options=$("$RESTORE" --help | help_options)
[ "$(wc -w <<<"$restore_options")" -ge 5 ] || { echo "FAIL: no options read from corvo-video-driver-restore --help"; exit 1; }
documented "$WORK/restore.txt" "corvo-video-driver-restore option" $restore_options
# The exit codes the help text lists, as entries of EXIT STATUS.
for code in $("$RESTORE" --help | sed -n '/^Exit codes:/,/^$/s/^  \([0-9]\)  .*/\1/p'); do
    if sed -n '/^\.SH EXIT STATUS/,/^\.SH /p' "$RESTORE_PAGE" | grep -qx "\.B $code"; then
        echo "PASS: corvo-video-driver-restore exit code $code"
    else
        echo "FAIL: corvo-video-driver-restore exit code $code is not in EXIT STATUS"
        failed=$((failed + 1))
    fi
done

[ $failed = 0 ] && echo "all documented" || echo "$failed missing"
[ $failed = 0 ]
