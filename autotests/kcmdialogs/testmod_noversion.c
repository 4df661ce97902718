// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
/* A module that declares no version. */
__attribute__((section(".modinfo"), used, aligned(1))) static const char noversion_license[] = "license=GPL";
__attribute__((section(".modinfo"), used, aligned(1))) static const char noversion_srcversion[] = "srcversion=00112233";
__attribute__((section(".modinfo"), used, aligned(1))) static const char noversion_name[] = "name=testmod_noversion";
