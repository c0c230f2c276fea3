#pragma once

#include <cstdint>

// Sets the last-error value of the calling thread of the program that loaded this driver
// library, as the program's GetLastError reads it after a failed call. Does nothing in a
// program that does not offer it.
void SetProgramLastError(std::uint32_t value);
