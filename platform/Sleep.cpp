#include "Sleep.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace {
std::mutex handlerMutex;
SleepHandler currentHandler;
} // namespace

void Sleep(DWORD milliseconds) {
    SleepHandler handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = currentHandler;
    }
    if (handler)
        handler(milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

SleepHandler SetSleepHandler(SleepHandler handler) {
    std::lock_guard lock(handlerMutex);
    std::swap(currentHandler, handler);
    return handler;
}
