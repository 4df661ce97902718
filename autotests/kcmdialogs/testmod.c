// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
/* The .modinfo records of a kernel module, enough for modinfo to read from the object file. */
__attribute__((section(".modinfo"), used, aligned(1))) static const char testmod_version[] = "version=1.2.3";
__attribute__((section(".modinfo"), used, aligned(1))) static const char testmod_license[] = "license=GPL";
__attribute__((section(".modinfo"), used, aligned(1))) static const char testmod_description[] = "description=Test   module\tfor the dialogs";
__attribute__((section(".modinfo"), used, aligned(1))) static const char testmod_srcversion[] = "srcversion=ABCDEF0123456789";
__attribute__((section(".modinfo"), used, aligned(1))) static const char testmod_name[] = "name=testmod";
