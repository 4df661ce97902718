#! /usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The control module with its dialogs and advanced pages: one domain for the code and the forms.
$EXTRACTRC $(find . -name '*.ui' | sort) >> rc.cpp
$XGETTEXT $(find . -name '*.cpp' -o -name '*.h' | sort) -o $podir/corvo_kcm_video_driver.pot
rm -f rc.cpp
