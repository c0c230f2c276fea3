#pragma once

// Misuse of the platform that must never go on: prints "Zandrel: <message>" on standard error
// and aborts, in release builds as well as in debug builds.
[[noreturn]] void PlatformFatal(const char* message);
