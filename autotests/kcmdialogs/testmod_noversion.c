/* A module that declares no version. */
__attribute__((section(".modinfo"), used, aligned(1))) static const char noversion_license[] = "license=GPL";
__attribute__((section(".modinfo"), used, aligned(1))) static const char noversion_srcversion[] = "srcversion=00112233";
__attribute__((section(".modinfo"), used, aligned(1))) static const char noversion_name[] = "name=testmod_noversion";
