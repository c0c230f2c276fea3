#pragma once

#include "WinTypes.h"

// Driver libraries are loaded by their Windows file name: "X.dll" loads libX.so. The
// directories named in ZANDREL_DRIVER_PATH (colon separated) are searched first, then the
// directory of the running executable, then the installed driver folder as seen from it
// (../lib/<arch>/zandrel for /usr/bin); nowhere else, so that the drivers that came with the
// program are the ones it uses.
inline constexpr const char* DriverPathVariable = "ZANDREL_DRIVER_PATH";

// The first directory that holds the file is the only one tried. When the file is found
// but does not load, or is found nowhere, LoadLibraryA returns null and sets the last-error
// value (LastError.h): ERROR_MOD_NOT_FOUND when no directory holds it (or a library it needs
// is missing), ERROR_PROC_NOT_FOUND when a symbol it needs is missing, ERROR_BAD_EXE_FORMAT
// when it is no loadable library, ERROR_INVALID_PARAMETER for a null or empty name. A file
// that fails to load also prints one line on standard error naming it and dlerror's reason.
HMODULE LoadLibraryA(const char* fileName);
FARPROC GetProcAddress(HMODULE module, const char* name);
int FreeLibrary(HMODULE module);

// Why the calling thread's last failed LoadLibraryA failed (the file and dlerror's text);
// "" after a load that worked.
const char* LastLibraryLoadError();

// The shared-object file name that stands for a Windows library name ("X.dll" -> "libX.so").
const char* SharedObjectNameFor(const char* fileName, char* buffer, unsigned bufferSize);
