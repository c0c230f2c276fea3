#pragma once

#include "WinTypes.h"

// Driver libraries are loaded by their Windows file name: "X.dll" loads libX.so. The
// directories named in ZANDREL_DRIVER_PATH (colon separated) are searched first, then the
// directory of the running executable; nowhere else, so that the drivers beside the program
// are the ones it uses.
inline constexpr const char* DriverPathVariable = "ZANDREL_DRIVER_PATH";

HMODULE LoadLibraryA(const char* fileName);
FARPROC GetProcAddress(HMODULE module, const char* name);
int FreeLibrary(HMODULE module);

// The shared-object file name that stands for a Windows library name ("X.dll" -> "libX.so").
const char* SharedObjectNameFor(const char* fileName, char* buffer, unsigned bufferSize);
