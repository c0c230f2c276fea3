#pragma once

#include "WinTypes.h"

#include <functional>

// The fixed pauses of the program (after an erase, while a node restarts, before an
// interface is reopened) go through Sleep. The handler is replaceable so that tests can
// record the pauses instead of spending them.
void Sleep(DWORD milliseconds);

using SleepHandler = std::function<void(DWORD milliseconds)>;

// Installs a handler for every later Sleep on any thread; an empty handler restores the
// real pause. Returns the handler that was installed before.
SleepHandler SetSleepHandler(SleepHandler handler);
