#pragma once

#include "WinTypes.h"

// The calling thread's last-error value. Every thread starts with 0.
void SetLastError(DWORD value);
DWORD GetLastError();

// The Win32 error codes the platform itself leaves in the last-error value.
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87; // no library name given
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;    // no such library, or a library it needs
inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;   // a symbol the library needs is missing
inline constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;   // the file is no loadable library
