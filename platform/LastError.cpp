#include "LastError.h"

#include <cstdint>

namespace {
thread_local DWORD lastError = 0;
}

void SetLastError(DWORD value) {
    lastError = value;
}

DWORD GetLastError() {
    return lastError;
}

// Driver libraries set the calling thread's last-error through this name, looked up in the
// program at run time (the program exports it to them, and nothing else).
extern "C" __attribute__((visibility("default"))) void ZandrelSetLastError(std::uint32_t value) {
    SetLastError(value);
}
