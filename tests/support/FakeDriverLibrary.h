#pragma once

// What every fake driver library shares (FakeDriverLibrary.cpp, built into each fake beside
// the bus's own exports): the calls it records, each with its arguments as text, and the
// results its exports give from the test's script. The controls of that script (Fake_*) are
// exported here; a bus's fake adds the controls of its own, and a Fake_Reset that calls
// ResetScript.

#include <cstdint>
#include <string>
#include <type_traits>

#define EXPORT extern "C" __attribute__((visibility("default")))

// Nothing here is the library's to export: a fake exports only what a driver would, and its
// controls.
namespace fake __attribute__((visibility("hidden"))) {

    // Records the call and gives the scripted result: the next queued one, else the export's
    // own, else 1. A test's observer is told of the call as it is made, on the calling thread.
    std::int32_t Answer(const char* name, const std::string& call);

    // Forgets the calls, the results and the observer.
    void ResetScript();

    // "0x" and the value in upper-case hex, at least digits wide.
    std::string Hex(unsigned value, int digits);

    // The bytes in hex, a space between two.
    std::string Bytes(const std::uint8_t* data, std::uint32_t length);

    // name(arg,arg,...): numbers in decimal, texts as they are.
    template <typename... Args> std::string CallText(const char* name, const Args&... args) {
        std::string text = std::string(name) + "(";
        bool first = true;
        [[maybe_unused]] auto add = [&](const auto& arg) {
            if (!first)
                text += ",";
            first = false;
            if constexpr (std::is_same_v<std::decay_t<decltype(arg)>, std::string>)
                text += arg;
            else
                text += std::to_string(arg);
        };
        (add(args), ...);
        return text + ")";
    }

} // namespace )

// Records the export's call with its arguments and gives its scripted result.
#define CALL(name, ...) fake::Answer(#name, fake::CallText(#name __VA_OPT__(, ) __VA_ARGS__))
