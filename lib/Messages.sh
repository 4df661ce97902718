#! /usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The driver library's messages, shown by both the control module and the command line.
$XGETTEXT $(find . -name '*.cpp' -o -name '*.h' | sort) -o $podir/drivers-module-lib.pot
