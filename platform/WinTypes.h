#pragma once

#include <cstdint>

// The few Windows type names the program is written with.
using DWORD = std::uint32_t;
using HMODULE = void*;
using FARPROC = void*;
