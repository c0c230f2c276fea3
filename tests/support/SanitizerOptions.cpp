// Defaults read by the sanitizer runtimes of an instrumented test build.

extern "C" const char* __asan_default_options() {
    return "detect_leaks=1";
}

extern "C" const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}

// Leaks reported at exit that belong to Qt or the system libraries under it, never to the
// program. Each line names one function, with the reason; never a whole library, which
// would hide every leak made in a GUI callback (Qt frames are on all of their stacks).
extern "C" const char* __lsan_default_suppressions() {
    return "";
}
