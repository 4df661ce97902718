// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Compiled into an object file that looks like a kernel module to the name reader: trace text
// with "name=" in its data, then a .modinfo section declaring the module's name.
extern const char sampleTraceFormat[];
const char sampleTraceFormat[] = "sched_job=%llu, timeline=%s, context=%u, seqno=%u, ring_name=%s, num_ibs=%u";

__attribute__((section(".modinfo"), used, aligned(1))) static const char sampleModinfo[] =
    "license=GPL\0description=sample module\0name=sample_gpu\0vermagic=6.1.0 SMP mod_unload";
