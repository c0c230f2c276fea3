// Defaults read by the sanitizer runtimes of an instrumented test build.

extern "C" const char* __asan_default_options() {
    return "detect_leaks=1";
}

extern "C" const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}

// Leaks reported at exit that belong to Qt or the system libraries under it, never to the
// program: each line names the library that owns the memory.
extern "C" const char* __lsan_default_suppressions() {
    return
        // Qt keeps its platform plugin, fonts and global statics until the process ends.
        "leak:libQt6Core.so\n"
        "leak:libQt6Gui.so\n"
        "leak:libQt6Widgets.so\n"
        // fontconfig caches the font configuration for the life of the process.
        "leak:libfontconfig.so\n"
        // GLib's type system and main context are process-wide and never freed.
        "leak:libglib-2.0.so\n"
        "leak:libgobject-2.0.so\n"
        // The dynamic loader keeps what dlopen loaded (Qt plugins) until exit.
        "leak:libdl.so\n"
        "leak:ld-linux-x86-64.so\n";
}
