// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Linked into every program and test of a sanitizer build (-DENABLE_SANITIZERS=ON).
//
// The privileged helper is started by the bus with a clean environment, so ASAN_OPTIONS and
// UBSAN_OPTIONS never reach it: the settings every process of the build needs are compiled in
// instead. A variable set by the caller still wins over them.
//
// Leak reports are off: Qt, KAuth and polkit keep singletons alive until exit on purpose, and
// every test would fail on them. Undefined behaviour stops the process with a stack trace, so a
// test cannot pass over it.
extern "C" __attribute__((visibility("default"))) const char *__asan_default_options()
{
    return "detect_leaks=0:abort_on_error=1";
}

extern "C" __attribute__((visibility("default"))) const char *__ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}

// A program from outside the build that loads a part of it (kcmshell5 loading the control
// module, the helper started with a test's preload) gets the sanitizer's runtime through
// LD_PRELOAD. The programs it starts in turn (ps, cp, update-grub) are not built with the
// sanitizer and hang under its runtime, so the preload stops with the process that needed it.
#include <cstdlib>
__attribute__((constructor)) static void keepPreloadToThisProcess()
{
    unsetenv("LD_PRELOAD");
}
