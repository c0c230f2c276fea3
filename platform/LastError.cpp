#include "LastError.h"

namespace {
thread_local DWORD lastError = 0;
}

void SetLastError(DWORD value) {
    lastError = value;
}

DWORD GetLastError() {
    return lastError;
}
