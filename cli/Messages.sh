#! /usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The command line's messages (TRANSLATION_DOMAIN of every cli target).
$XGETTEXT $(find . -name '*.cpp' -o -name '*.h' | sort) -o $podir/corvo-video-driver.pot
