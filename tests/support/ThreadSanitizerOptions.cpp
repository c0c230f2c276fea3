// Defaults read by the ThreadSanitizer runtime of an instrumented test build.

extern "C" const char* __tsan_default_options() {
    return "halt_on_error=1:second_deadlock_stack=1";
}

// Races reported inside Qt or the system libraries under it, never in the program: Qt is
// not built with ThreadSanitizer, so the order its own locks and atomics give is not seen.
// Each line names one function, with the reason; never a whole library.
extern "C" const char* __tsan_default_suppressions() {
    return
        // A virtual CAN bus is a TCP connection, and Qt asks the system for its proxy first:
        // on a thread of its own, through libproxy, handing strings back under its own locks.
        "race:px_proxy_factory_*\n"
        "race:QNetworkProxyFactory::systemProxyForQuery\n"
        // Qt's wait condition: its wake and its destruction are ordered by Qt's own lock.
        "race:QWaitCondition::~QWaitCondition\n";
}
