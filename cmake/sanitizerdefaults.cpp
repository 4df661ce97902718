// Linked into every program and test of a sanitizer build (-DENABLE_SANITIZERS=ON).
//
// The privileged helper is started by the bus with a clean environment, so ASAN_OPTIONS and
// UBSAN_OPTIONS never reach it: the settings every process of the build needs are compiled in
// instead. A variable set by the caller still wins over them.
//
// Leak reports are off: Qt, KAuth and polkit keep singletons alive until exit on purpose, and
// every test would fail on them. Undefined behaviour stops the process with a stack trace, so a
// test cannot pass over it.
extern "C" const char *__asan_default_options()
{
    return "detect_leaks=0:abort_on_error=1";
}

extern "C" const char *__ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}
