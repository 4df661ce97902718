#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Writes the translation templates po/<domain>.pot anew from the sources, the way KDE's
# extraction does it: every Messages.sh of the tree runs in its own folder with $XGETTEXT (xgettext
# with the KI18n keywords), $EXTRACTRC (the strings of Qt Designer forms as i18n calls) and
# $podir set, and writes the template of its domain into $podir.
#
# Usage: scripts/extract-messages.sh           rewrite po/*.pot
#        scripts/extract-messages.sh --check   write nothing; exit 1 when a committed template
#                                              lacks a message of the sources or holds one they
#                                              no longer have (locations and dates are ignored),
#                                              or when a domain of the code has no template,
#                                              or a catalogue does not compile cleanly
# Needs xgettext (gettext) and, for the same comments in the templates as KDE's, extractrc
# (kdesdk-scripts); without extractrc (or with EXTRACTRC=builtin) a small reader of .ui files
# stands in for it.
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
check=false
case "${1:-}" in
--check) check=true ;;
"") ;;
*) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

if [ -n "${EXTRACTRC:-}" ] && [ "$EXTRACTRC" != builtin ]; then
    :
elif [ "${EXTRACTRC:-}" != builtin ] && command -v extractrc >/dev/null 2>&1; then
    EXTRACTRC=$(command -v extractrc)
else
    # Prints every translatable <string> of the forms as an i18n() or, with a comment
    # attribute, an i18nc() call, preceded by its file and line as a translator comment.
    cat >"$WORK/extractrc" <<'PY'
#!/usr/bin/env python3
import re, sys, xml.sax.saxutils
string = re.compile(r'<string((?:\s+\w+="[^"]*")*)\s*>(.*?)</string>', re.S)
attr = re.compile(r'(\w+)="([^"]*)"')
def c(text):
    text = xml.sax.saxutils.unescape(text, {'&quot;': '"', '&apos;': "'"})
    return '"' + text.replace('\\', '\\\\').replace('"', '\\"').replace('\n', '\\n') + '"'
for name in sys.argv[1:]:
    data = open(name, encoding='utf-8').read()
    for m in string.finditer(data):
        attrs = dict(attr.findall(m.group(1)))
        if attrs.get('notr') == 'true' or not m.group(2):
            continue
        line = data.count('\n', 0, m.start()) + 1
        print('// i18n: file: %s:%d' % (name[2:] if name.startswith('./') else name, line))
        if attrs.get('comment'):
            print('i18nc(%s, %s);' % (c(attrs['comment']), c(m.group(2))))
        else:
            print('i18n(%s);' % c(m.group(2)))
PY
    chmod +x "$WORK/extractrc"
    EXTRACTRC=$WORK/extractrc
fi

# KDE's keyword list, with the calls that name their domain (i18nd...) as well.
XGETTEXT="xgettext --copyright-holder=Corvo_video_driver_manager_developers --package-name=corvo-video-driver
 --msgid-bugs-address= --from-code=UTF-8 -C --kde -ci18n
 -ki18n:1 -ki18nc:1c,2 -ki18np:1,2 -ki18ncp:1c,2,3
 -ki18nd:2 -ki18ndc:2c,3 -ki18ndp:2,3 -ki18ndcp:2c,3,4
 -kki18n:1 -kki18nc:1c,2 -kki18np:1,2 -kki18ncp:1c,2,3
 -kki18nd:2 -kki18ndc:2c,3 -kki18ndp:2,3 -kki18ndcp:2c,3,4
 -kxi18n:1 -kxi18nc:1c,2 -kxi18np:1,2 -kxi18ncp:1c,2,3
 -kxi18nd:2 -kxi18ndc:2c,3 -kxi18ndp:2,3 -kxi18ndcp:2c,3,4
 -kkxi18n:1 -kkxi18nc:1c,2 -kkxi18np:1,2 -kkxi18ncp:1c,2,3
 -kI18N_NOOP:1 -kI18NC_NOOP:1c,2 -kI18N_NOOP2:1c,2 -kI18N_NOOP2_NOSTRIP:1c,2
 -ktr2i18n:1 -ktr2i18n:1,2c -ktr2xi18n:1 -ktr2xi18n:1,2c"
# A wrapper, so that Messages.sh sees one command; it drops xgettext's advice to name a bug
# address, which this project's templates do without.
printf '#!/bin/bash\nexec %s "$@" 2> >(grep -v -e "--msgid-bugs-address" -e "Makevars" -e "MSGID_BUGS_ADDRESS" -e "specify an --msgid" >&2)\n' \
    "$(printf '%s' "$XGETTEXT" | tr '\n' ' ')" >"$WORK/xgettext"
chmod +x "$WORK/xgettext"
XGETTEXT=$WORK/xgettext
export XGETTEXT EXTRACTRC
export podir=$WORK/po
mkdir -p "$podir"

cd "$TOP"
while IFS= read -r script; do
    dir=$(dirname "$script")
    # The folder may hold no build output: Messages.sh globs what lies under it.
    (cd "$TOP/$dir" && bash ./Messages.sh)
done < <(find . -path './build*' -prune -o -path ./.git -prune -o -name Messages.sh -print | sort)

status=0
# Every domain the code names must have a template.
domains=$(find . -path './build*' -prune -o -path ./.git -prune -o -name CMakeLists.txt -print0 \
          | xargs -0 grep -hoE 'TRANSLATION_DOMAIN="[^"]+"' | sed -E 's/.*="([^"]+)"/\1/' | sort -u)
for domain in $domains; do
    if [ ! -f "$podir/$domain.pot" ]; then
        echo "extract-messages: the domain $domain has no Messages.sh writing $domain.pot" >&2
        status=1
    fi
done

# The messages of a template, without locations, comments, flags and header: what a change of
# the sources can make stale.
messages() {
    msgcat --no-location --no-wrap --sort-output "$1" | sed -e '/^#/d' -e '1,/^$/d'
}

for pot in "$podir"/*.pot; do
    name=$(basename "$pot")
    if $check; then
        if [ ! -f "$TOP/po/$name" ]; then
            echo "extract-messages: po/$name is missing; run scripts/extract-messages.sh" >&2
            status=1
        elif ! diff -u <(messages "$TOP/po/$name") <(messages "$pot") >"$WORK/$name.diff"; then
            echo "extract-messages: po/$name is out of date (committed -, sources +); run scripts/extract-messages.sh" >&2
            cat "$WORK/$name.diff" >&2
            status=1
        fi
    else
        cp "$pot" "$TOP/po/$name"
        echo "po/$name: $(grep -c '^msgid ' "$pot") messages (header included)"
    fi
done
# Every catalogue belongs to a domain with a template and compiles with its placeholders
# matching the English ones (msgfmt --check: a lost %1 or a broken header is an error).
if $check; then
    for po in "$TOP"/po/*/*.po; do
        [ -f "$po" ] || continue
        if [ ! -f "$podir/$(basename "$po" .po).pot" ]; then
            echo "extract-messages: ${po#"$TOP"/} belongs to no domain of the sources" >&2
            status=1
        elif ! msgfmt --check -o /dev/null "$po"; then
            echo "extract-messages: ${po#"$TOP"/} does not compile cleanly" >&2
            status=1
        fi
    done
fi
if $check && [ $status = 0 ]; then
    echo "extract-messages: every template is up to date"
fi
exit $status
