#include "FakeDriverLibrary.h"

#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

using std::int32_t;
using std::uint32_t;

namespace fake {

namespace {

std::mutex mutex;
std::vector<std::string> calls;
std::map<std::string, int32_t> results;
std::map<std::string, std::deque<int32_t>> queued;
void (*observer)(const char* call) = nullptr;
std::string joinedCalls;

} // namespace

int32_t Answer(const char* name, const std::string& call) {
    int32_t result = 1;
    void (*notify)(const char*) = nullptr;
    {
        std::lock_guard lock(mutex);
        calls.push_back(call);
        auto& queue = queued[name];
        if (!queue.empty()) {
            result = queue.front();
            queue.pop_front();
        } else if (auto it = results.find(name); it != results.end()) {
            result = it->second;
        }
        notify = observer;
    }
    if (notify)
        notify(call.c_str());
    return result;
}

void ResetScript() {
    std::lock_guard lock(mutex);
    calls.clear();
    results.clear();
    queued.clear();
    observer = nullptr;
}

std::string Hex(unsigned value, int digits) {
    char text[12];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string Bytes(const std::uint8_t* data, uint32_t length) {
    std::string text;
    char byte[4];
    for (uint32_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", data[i]);
        text += byte;
    }
    return text;
}

} // namespace fake

// The controls of the script.

EXPORT void Fake_ClearCalls() {
    std::lock_guard lock(fake::mutex);
    fake::calls.clear();
}
// The result of every later call of the export.
EXPORT void Fake_SetResult(const char* name, int32_t result) {
    std::lock_guard lock(fake::mutex);
    fake::results[name] = result;
}
// Results for the next calls of the export, in turn, before its own result applies again.
EXPORT void Fake_QueueResults(const char* name, const int32_t* values, uint32_t count) {
    std::lock_guard lock(fake::mutex);
    for (uint32_t i = 0; i < count; ++i)
        fake::queued[name].push_back(values[i]);
}
// Told of every call as it is made, on the calling thread.
EXPORT void Fake_SetObserver(void (*notify)(const char* call)) {
    std::lock_guard lock(fake::mutex);
    fake::observer = notify;
}
// Every call so far, one a line.
EXPORT const char* Fake_Calls() {
    std::lock_guard lock(fake::mutex);
    fake::joinedCalls.clear();
    for (const auto& c : fake::calls)
        fake::joinedCalls += c + "\n";
    return fake::joinedCalls.c_str();
}
