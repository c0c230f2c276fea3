#pragma once

#include "DriverFolder.h"
#include "DynamicLibrary.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using Calls = std::vector<std::string>;

// The controls every fake driver library has (FakeDriverLibrary.h), reached through the same
// library the program loads: the calls it recorded, the results its exports give, and an
// observer told of each call. A bus's fake adds the controls of its own script. Attach while
// the driver path names the fake's folder.
class FakeDriverControls {
public:
    virtual ~FakeDriverControls() { Detach(); }
    FakeDriverControls(const FakeDriverControls&) = delete;
    FakeDriverControls& operator=(const FakeDriverControls&) = delete;

    void Attach() {
        module_ = LoadLibraryA(library_);
        ASSERT_NE(module_, nullptr) << LastLibraryLoadError();
        look(reset_, "Fake_Reset");
        look(clearCalls_, "Fake_ClearCalls");
        look(setResult_, "Fake_SetResult");
        look(queueResults_, "Fake_QueueResults");
        look(setObserver_, "Fake_SetObserver");
        look(calls_, "Fake_Calls");
        LookUpOwnControls();
        reset_();
    }
    void Detach() {
        if (module_) {
            reset_();
            FreeLibrary(module_);
            module_ = nullptr;
        }
    }

    Calls AllCalls() const {
        Calls out;
        std::istringstream in(calls_());
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }
    // The calls whose text starts with prefix.
    Calls CallsOf(const std::string& prefix) const {
        Calls out;
        for (const auto& call : AllCalls())
            if (call.rfind(prefix, 0) == 0)
                out.push_back(call);
        return out;
    }
    void ClearCalls() { clearCalls_(); }
    // Forgets the calls and the whole script.
    void Reset() { reset_(); }

    void SetResult(const char* name, std::int32_t result) { setResult_(name, result); }
    void QueueResults(const char* name, std::initializer_list<std::int32_t> results) {
        std::vector<std::int32_t> values(results);
        queueResults_(name, values.data(), static_cast<std::uint32_t>(values.size()));
    }
    void QueueResults(const char* name, const std::vector<std::int32_t>& values) {
        queueResults_(name, values.data(), static_cast<std::uint32_t>(values.size()));
    }
    void SetObserver(void (*notify)(const char*)) { setObserver_(notify); }

protected:
    // library: the name the program loads the driver by.
    explicit FakeDriverControls(const char* library) : library_(library) {}

    // Looks up the controls of the bus's own script, once the library is loaded.
    virtual void LookUpOwnControls() = 0;

    template <typename F> void look(F*& slot, const char* name) {
        slot = reinterpret_cast<F*>(GetProcAddress(module_, name));
        ASSERT_NE(slot, nullptr) << name;
    }

private:
    const char* library_;
    HMODULE module_ = nullptr;
    void (*reset_)() = nullptr;
    void (*clearCalls_)() = nullptr;
    void (*setResult_)(const char*, std::int32_t) = nullptr;
    void (*queueResults_)(const char*, const std::int32_t*, std::uint32_t) = nullptr;
    void (*setObserver_)(void (*)(const char*)) = nullptr;
    const char* (*calls_)() = nullptr;
};

// Makes a fresh Loaded (the program's driver binding, or a downloader that makes one) while
// the driver path names folder, so that it loads the fake library there, then attaches the
// fake's controls to that same library. What was loaded before goes first.
template <typename Loaded>
void LoadOverFake(std::unique_ptr<Loaded>& loaded, FakeDriverControls& fake, const char* folder) {
    loaded.reset();
    fake.Detach();
    DriverFolder use(folder);
    loaded = std::make_unique<Loaded>();
    fake.Attach();
}
