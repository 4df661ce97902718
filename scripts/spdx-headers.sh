#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Gives every file of the repository that can hold a comment the two SPDX lines of the
# project, in the comment style of its type, at its top (after a "#!" line or an XML
# declaration, which must stay first). Files that already hold both lines are left alone, so
# running it again changes nothing. Files that .reuse/dep5 covers (fixtures, templates and
# catalogues, pictures, forms, JSON) are skipped; a file of a type it knows no comment for is
# named, so that it gets a header by hand or a pattern in .reuse/dep5.
#
# Usage: scripts/spdx-headers.sh [--dry-run] [FILE...]   (default: every file git tracks)
# Exit: 0 done, 1 some file could not be given a header (listed), 2 wrong use.
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
# The tags are spelt apart here so that licence scanners do not read these lines as this
# file's own.
TAG_COPYRIGHT=SPDX-FileCopyrightText TAG_LICENSE=SPDX-License-Identifier
COPYRIGHT="$TAG_COPYRIGHT: 2026 Corvo video driver manager developers"
LICENSE="$TAG_LICENSE: GPL-2.0-or-later"

dry=false
if [ "${1:-}" = --dry-run ]; then
    dry=true
    shift
fi
case "${1:-}" in -*) echo "usage: $0 [--dry-run] [FILE...]" >&2; exit 2 ;; esac

cd "$TOP"
if [ $# -gt 0 ]; then
    files=("$@")
else
    mapfile -t files < <(git ls-files)
fi

# The "Files:" patterns of .reuse/dep5; there "*" matches "/" too, as in a case pattern.
dep5=()
if [ -f .reuse/dep5 ]; then
    mapfile -t dep5 < <(awk '/^Files:/ {f = 1; sub(/^Files:/, ""); print; next}
                             f && /^[ \t]/ {print; next}
                             {f = 0}' .reuse/dep5 | tr ' \t' '\n\n' | sed '/^$/d')
fi
covered() {
    local pattern
    for pattern in "${dep5[@]}"; do
        # shellcheck disable=SC2254
        case "$1" in $pattern) return 0 ;; esac
    done
    return 1
}

# Prints the comment style of a file: "//", "#", "xml", "roff", "rst", or nothing.
style() {
    local path=$1 name
    name=$(basename "$path")
    case "$name" in
    *.cpp | *.cc | *.cxx | *.c | *.h | *.hpp | *.h.in | *.cpp.in | *.qml | *.js) echo //; return ;;
    CMakeLists.txt | *.cmake | *.cmake.in | *.sh | *.bash | *.py | *.pl | *.yml | *.yaml | *.desktop | *.desktop.in \
        | *.service | *.service.in | *.conf | *.cfg | *.ini | *.toml | *.mk | Makefile | .gitignore | .gitattributes \
        | .clang-format | *.install | *.links | *.dirs | *.docs | *.examples | *.maintscript | *.lintian-overrides \
        | *.postinst | *.postrm | *.preinst | *.prerm | *.triggers | control | rules | watch | *.bash-completion)
        echo '#'; return ;;
    *.md | *.xml | *.html | *.svg | *.docbook | *.policy | *.policy.in) echo xml; return ;;
    *.[1-9] | *.[1-9].in | *.man) echo roff; return ;;
    *.rst) echo rst; return ;;
    esac
    # A script without a suffix (.ci/run, a completion file) says what it is in its first line.
    if head -c 2 "$path" 2>/dev/null | grep -q '^#!'; then
        echo '#'
    elif case "$path" in */completions/* | */bash-completion/*) true ;; *) false ;; esac; then
        echo '#'
    fi
}

comment_lines() {
    case "$1" in
    //) printf '// %s\n// %s\n' "$COPYRIGHT" "$LICENSE" ;;
    '#') printf '# %s\n# %s\n' "$COPYRIGHT" "$LICENSE" ;;
    xml) printf '<!--\n    %s\n    %s\n-->\n' "$COPYRIGHT" "$LICENSE" ;;
    roff) printf '.\\" %s\n.\\" %s\n' "$COPYRIGHT" "$LICENSE" ;;
    rst) printf '..\n    %s\n    %s\n\n' "$COPYRIGHT" "$LICENSE" ;;
    esac
}

# The header goes after the lines that must stay first: a "#!" line, an XML declaration, a
# Python coding line right after the "#!".
keep_first() {
    local path=$1 n=0
    local first second
    first=$(sed -n 1p "$path")
    second=$(sed -n 2p "$path")
    case "$first" in '#!'* | '<?xml'*) n=1 ;; esac
    if [ $n = 1 ] && printf '%s' "$second" | grep -Eq '^#.*coding[:=]'; then
        n=2
    fi
    echo $n
}

added=0 unknown=()
for path in "${files[@]}"; do
    [ -f "$path" ] && [ ! -L "$path" ] || continue
    case "$path" in LICENSES/* | .reuse/*) continue ;; esac
    covered "$path" && continue
    has_copyright=false has_license=false
    head -n 40 "$path" | grep -q "$TAG_COPYRIGHT:" && has_copyright=true
    head -n 40 "$path" | grep -q "$TAG_LICENSE:" && has_license=true
    if $has_copyright && $has_license; then
        continue
    fi
    if $has_copyright || $has_license; then
        unknown+=("$path (holds only one of the two SPDX lines)")
        continue
    fi
    kind=$(style "$path")
    if [ -z "$kind" ]; then
        unknown+=("$path (no comment style known for this type)")
        continue
    fi
    added=$((added + 1))
    if $dry; then
        echo "would add ($kind): $path"
        continue
    fi
    n=$(keep_first "$path")
    tmp=$(mktemp "$path.XXXXXX")
    {
        head -n "$n" "$path"
        comment_lines "$kind"
        tail -n +"$((n + 1))" "$path"
    } >"$tmp"
    chmod --reference="$path" "$tmp"
    mv "$tmp" "$path"
done

if $dry; then
    echo "spdx-headers: $added file(s) would get a header"
else
    echo "spdx-headers: $added file(s) got a header"
fi
if [ ${#unknown[@]} -gt 0 ]; then
    echo "spdx-headers: give these a header by hand or a pattern in .reuse/dep5:" >&2
    printf '  %s\n' "${unknown[@]}" >&2
    exit 1
fi
