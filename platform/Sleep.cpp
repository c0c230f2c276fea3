#include "Sleep.h"

#include "ReplaceableHandler.h"

#include <chrono>
#include <thread>

namespace {
ReplaceableHandler<void(DWORD)>& sleepHandler() {
    static ReplaceableHandler<void(DWORD)> handler;
    return handler;
}
} // namespace

void Sleep(DWORD milliseconds) {
    if (SleepHandler handler = sleepHandler().Get())
        handler(milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

SleepHandler SetSleepHandler(SleepHandler handler) {
    return sleepHandler().Set(std::move(handler));
}
