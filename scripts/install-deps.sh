#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs every Debian 12 package needed to build, run and test the driver manager.
# Idempotent: running it again only re-checks what is already there.
set -euo pipefail

if [ "$(id -u)" != 0 ]; then
    echo "install-deps.sh: run as root (it calls apt-get)" >&2
    exit 1
fi

PACKAGES=(
    # build
    build-essential cmake extra-cmake-modules pkg-config gettext
    qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite libqt5opengl5-dev
    libkf5auth-dev libkf5i18n-dev libkf5coreaddons-dev libkf5kcmutils-dev
    libkf5configwidgets-dev libkf5widgetsaddons-dev libkf5dbusaddons-dev
    libqapt-dev libapt-pkg-dev libappstreamqt-dev libhd-dev libpci-dev libkmod-dev
    # run time: the package worker, D-Bus, polkit, fuser, PCI names
    libqapt3-runtime dbus polkitd pkexec psmisc pciutils pci.ids kmod
    # tests: namespaces, a private X server and screenshots
    util-linux xz-utils gzip xvfb x11-apps x11-utils imagemagick kde-cli-tools xdotool
    # tests: picom's own parser reads the compositor file; the X server's own parser, on its
    # dummy driver, loads the switch and tearing snippets together
    picom xserver-xorg-core xserver-xorg-video-dummy
    # translations: message extraction (extractrc for the .ui forms); repository checks: the
    # licence linter and KDE's formatting target with its pre-commit hook (git clang-format)
    kdesdk-scripts reuse clang-format
    # tests: the benchmark page runs the real glmark2 once, on Mesa's software renderer
    glmark2-x11 libgl1-mesa-dri
    # scripts/fuzz.sh: clang with libFuzzer and the sanitizer runtimes
    clang libclang-rt-14-dev
    # scripts/benchmark.sh: peak memory through /usr/bin/time
    time
    # scripts/benchmark-packages.sh: the python3-apt scan it compares with
    python3-apt
    # tests: the --json documents against their schemas, the Ansible modules in ansible-playbook
    python3-jsonschema ansible-core
    # tests: the bash completion runs on bash-completion's own functions
    bash-completion
    # scripts/package.sh and the test that installs its packages (their run-time dependencies
    # are all above, so that apt-get installs the .deb files offline)
    debhelper dpkg-dev lintian
    # tests: the late-answer test finds reads and writes of freed memory in the libraries' exit
    # code with memcheck
    valgrind
)

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi
