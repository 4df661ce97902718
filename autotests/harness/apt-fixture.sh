#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds a fixture APT universe in a folder, for tests that use QApt or apt through APT_CONFIG
# without reading or changing the host's package database.
#
# Usage: apt-fixture.sh [--with-debs] DIR
#   DIR          an existing, preferably empty folder (a test's temporary folder); everything is
#                written below it. Afterwards:  export APT_CONFIG=DIR/apt.conf
#   --with-debs  also build a small .deb for every package (dpkg-deb) into DIR/repo/pool and
#                give the lists file the real sizes and checksums, so that apt can fetch them
#                from the file: repository (needed for install transactions; about 1 s).
#
# Environment:
#   APT_FIXTURE_INSTALLED  space-separated names of the packages that the dpkg status file
#                          marks as installed. Default: see DEFAULT_INSTALLED below.
#   APT_FIXTURE_AUTO       space-separated names of installed packages that APT records as
#                          installed automatically (extended_states). Default: the libraries
#                          of the purge rule set, libnvidia-a-fixture and libnvidia-b-fixture.
#   APT_FIXTURE_DPKG       program apt runs as dpkg (Dir::Bin::dpkg). Default: /bin/false, so
#                          that nothing can ever be installed by accident. The transaction
#                          harness points it at its logging fake.
#   APT_FIXTURE_TABLE      the package table to use. Default: autotests/fixtures/apt/packages.txt
#   APT_FIXTURE_COMPONENTS space-separated archive components the sources enable, each with its
#                          own Packages list; a package goes into the component its section
#                          names ("non-free/x11" -> non-free, "x11" -> main) and is left out
#                          when that component is not enabled, as on a machine whose sources
#                          lack it. Default: one "main" list holding every package.
#
# The packages come from autotests/fixtures/apt/packages.txt (format described there):
# driver packages with and without "Modaliases", the six Intel acceleration packages and a set
# for the dependency purge rule. autotests/fixtures/apt/debian-bookworm.txt holds Debian's
# own graphics driver packages and relations.
#
# Layout written:
#   DIR/apt.conf                  the configuration: Dir::Etc, Dir::State, Dir::Cache, Dir::Log
#                                 all below DIR, so the host's apt.conf.d is never read
#   DIR/etc/sources.list          deb [trusted=yes] file:DIR/repo bookworm main
#   DIR/state/lists/<...>_Packages  the index, written directly (no apt-get update)
#   DIR/state/dpkg/status         installed packages ("install ok installed")
#   DIR/state/dpkg/info/<pkg>.list  file lists of installed packages; QApt's packageForFile()
#                                 reads /var/lib/dpkg/info directly, so bind-mount this folder
#                                 there inside a private mount namespace when a test needs it
#   DIR/repo/                     the file: repository (.debs only with --with-debs)
#
# Exit status: 0, or 1 with a message on standard error.
set -euo pipefail

DEFAULT_INSTALLED="nvidia-driver-fixture libnvidia-a-fixture libnvidia-b-fixture nvidia-tools-fixture xserver-xorg-video-fixture firmware-misc-nonfree intel-microcode mesa-vulkan-drivers"

WITH_DEBS=0
if [ "${1:-}" = "--with-debs" ]; then
    WITH_DEBS=1
    shift
fi
if [ $# -ne 1 ] || [ ! -d "$1" ]; then
    echo "usage: $0 [--with-debs] EXISTING-DIR" >&2
    exit 1
fi
DIR=$(cd "$1" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
TABLE=${APT_FIXTURE_TABLE:-$HERE/../fixtures/apt/packages.txt}
COMPONENTS=${APT_FIXTURE_COMPONENTS:-}
INSTALLED=" ${APT_FIXTURE_INSTALLED-$DEFAULT_INSTALLED} "
AUTO=" ${APT_FIXTURE_AUTO-libnvidia-a-fixture libnvidia-b-fixture} "
DPKG=${APT_FIXTURE_DPKG:-/bin/false}
ARCH=amd64

mkdir -p "$DIR/etc/apt.conf.d" "$DIR/etc/sources.list.d" "$DIR/etc/preferences.d" "$DIR/etc/trusted.gpg.d" \
    "$DIR/state/lists/partial" "$DIR/state/dpkg/info" "$DIR/state/dpkg/updates" \
    "$DIR/cache/archives/partial" "$DIR/log" "$DIR/repo/pool"
: > "$DIR/state/dpkg/status"
: > "$DIR/state/extended_states"

cat > "$DIR/apt.conf" <<CONF
Dir "/";
Dir::Etc "$DIR/etc/";
Dir::Etc::main "apt.conf";
Dir::Etc::parts "apt.conf.d";
Dir::Etc::sourcelist "sources.list";
Dir::Etc::sourceparts "sources.list.d";
Dir::Etc::preferences "preferences";
Dir::Etc::preferencesparts "preferences.d";
Dir::Etc::trusted "trusted.gpg";
Dir::Etc::trustedparts "trusted.gpg.d";
Dir::State "$DIR/state/";
Dir::State::lists "$DIR/state/lists/";
Dir::State::status "$DIR/state/dpkg/status";
Dir::State::extended_states "$DIR/state/extended_states";
Dir::Cache "$DIR/cache/";
Dir::Cache::archives "$DIR/cache/archives/";
Dir::Cache::pkgcache "";
Dir::Cache::srcpkgcache "";
Dir::Log "$DIR/log/";
Dir::Bin::dpkg "$DPKG";
DPkg::Options {"--admindir=$DIR/state/dpkg";};
DPkg::Post-Invoke {};
DPkg::Pre-Invoke {};
DPkg::Pre-Install-Pkgs {};
APT::Architecture "$ARCH";
APT::Architectures { "$ARCH"; };
APT::Sandbox::User "root";
Debug::NoLocking "true";
CONF
: > "$DIR/etc/apt.conf"

echo "deb [trusted=yes] file:$DIR/repo bookworm ${COMPONENTS:-main}" > "$DIR/etc/sources.list"
# apt names a lists file after its URI without the scheme, '/' turned into '_'.
lists_file() {
    echo "$DIR/state/lists/$(echo "$DIR/repo/dists/bookworm/$1/binary-$ARCH/Packages" | tr / _)"
}
for component in ${COMPONENTS:-main}; do
    : > "$(lists_file "$component")"
done

# control NAME VERSION SECTION DEPENDS MODALIASES DESCRIPTION [PROVIDES]: the fields shared by
# the index, the status file and the .deb.
control() {
    echo "Package: $1"
    echo "Version: $2"
    echo "Architecture: $ARCH"
    echo "Maintainer: Fixture <fixture@example.org>"
    echo "Installed-Size: 1"
    echo "Priority: optional"
    echo "Section: $3"
    [ -n "$4" ] && echo "Depends: $4"
    [ -n "$5" ] && echo "Modaliases: $5"
    [ -n "${7:-}" ] && echo "Provides: $7"
    echo "Description: $6"
    echo " Package of the test fixture universe."
}

while IFS='|' read -r name version section depends modaliases description provides; do
    case "$name" in ''|'#'*) continue ;; esac
    component=main
    if [ -n "$COMPONENTS" ]; then
        case "$section" in */*) component=${section%%/*} ;; esac
        [[ " $COMPONENTS " == *" $component "* ]] || continue
    fi
    LISTS_FILE=$(lists_file "$component")
    # The table separates its columns with "|"; " ! " stands for the alternative bar.
    depends=${depends// ! / | }
    deb="pool/${name}_${version}_$ARCH.deb"
    size=1000
    sha=
    if [ "$WITH_DEBS" = 1 ]; then
        root="$DIR/repo/build/$name"
        mkdir -p "$root/DEBIAN" "$root/usr/share/doc/$name"
        control "$name" "$version" "$section" "$depends" "$modaliases" "$description" "$provides" > "$root/DEBIAN/control"
        echo "$name fixture" > "$root/usr/share/doc/$name/README.fixture"
        dpkg-deb --root-owner-group -Znone --build "$root" "$DIR/repo/$deb" >/dev/null
        size=$(stat -c %s "$DIR/repo/$deb")
        sha=$(sha256sum "$DIR/repo/$deb" | cut -d' ' -f1)
    fi
    {
        control "$name" "$version" "$section" "$depends" "$modaliases" "$description" "$provides"
        echo "Filename: $deb"
        echo "Size: $size"
        [ -n "$sha" ] && echo "SHA256: $sha"
        echo
    } >> "$LISTS_FILE"
    if [[ "$INSTALLED" == *" $name "* ]]; then
        {
            echo "Status: install ok installed"
            control "$name" "$version" "$section" "$depends" "$modaliases" "$description" "$provides"
            echo
        } >> "$DIR/state/dpkg/status"
        if [[ " $AUTO " == *" $name "* ]]; then
            printf 'Package: %s\nArchitecture: amd64\nAuto-Installed: 1\n\n' "$name" >> "$DIR/state/extended_states"
        fi
        printf '/.\n/usr\n/usr/share\n/usr/share/doc\n/usr/share/doc/%s\n/usr/share/doc/%s/README.fixture\n' "$name" "$name" \
            > "$DIR/state/dpkg/info/$name.list"
    fi
done < "$TABLE"
rm -rf "$DIR/repo/build"

# Every installed name must be a fixture package, or the caller's test would silently test less.
for name in $INSTALLED; do
    grep -qx "Package: $name" "$DIR"/state/lists/*_Packages || { echo "$0: unknown fixture package: $name" >&2; exit 1; }
done
