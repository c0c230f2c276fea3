#pragma once

#include "WinTypes.h"

// The calling thread's last-error value. Every thread starts with 0.
void SetLastError(DWORD value);
DWORD GetLastError();
