#pragma once

#include "DynamicLibrary.h"
#include "Qvx_copn_exports.h"

#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

using Calls = std::vector<std::string>;

// The controls of the fake CANopen driver library (FakeCopn.cpp), reached through the same
// library the program loads. Attach while the driver path names the fake's folder.
class FakeCopnDriver {
public:
    FakeCopnDriver() = default;
    ~FakeCopnDriver() { Detach(); }
    FakeCopnDriver(const FakeCopnDriver&) = delete;
    FakeCopnDriver& operator=(const FakeCopnDriver&) = delete;

    void Attach() {
        module_ = LoadLibraryA("QVX_COPN.dll");
        ASSERT_NE(module_, nullptr) << LastLibraryLoadError();
        look(reset_, "Fake_Reset");
        look(clearCalls_, "Fake_ClearCalls");
        look(setResult_, "Fake_SetResult");
        look(queueResults_, "Fake_QueueResults");
        look(setObject_, "Fake_SetObject");
        look(setNodeOnline_, "Fake_SetNodeOnline");
        look(setOpenError_, "Fake_SetOpenError");
        look(setSettings_, "Fake_SetSettings");
        look(setObserver_, "Fake_SetObserver");
        look(calls_, "Fake_Calls");
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

    void SetResult(const char* name, std::int32_t result) { setResult_(name, result); }
    void QueueResults(const char* name, std::initializer_list<std::int32_t> results) {
        std::vector<std::int32_t> values(results);
        queueResults_(name, values.data(), static_cast<std::uint32_t>(values.size()));
    }
    void QueueResults(const char* name, const std::vector<std::int32_t>& values) {
        queueResults_(name, values.data(), static_cast<std::uint32_t>(values.size()));
    }

    void SetBytes(std::uint8_t node, std::uint16_t index, std::uint8_t sub,
                  const std::vector<std::uint8_t>& data) {
        setObject_(node, index, sub, data.data(), static_cast<std::uint32_t>(data.size()));
    }
    void SetU8(std::uint8_t node, std::uint16_t index, std::uint8_t sub, std::uint8_t value) {
        SetBytes(node, index, sub, {value});
    }
    void SetU32(std::uint8_t node, std::uint16_t index, std::uint8_t sub, std::uint32_t value) {
        SetBytes(node, index, sub,
                 {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                  static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
    }
    void SetText(std::uint8_t node, std::uint16_t index, const std::string& text) {
        SetBytes(node, index, 0, std::vector<std::uint8_t>(text.begin(), text.end()));
    }

    struct Identity {
        std::uint32_t deviceType = 0x00020192;
        std::uint8_t errorRegister = 0;
        std::string deviceName = "Fake Node";
        std::string hardwareVersion = "HW 1";
        std::string softwareVersion = "2.07";
        std::uint32_t vendorId = 0x2A5;
        std::uint32_t productCode = 0x123;
        std::uint32_t revisionNumber = 0x00010002;
        std::uint32_t serialNumber = 100234;
    };
    // The identity entries of a node's communication profile.
    void SetIdentity(std::uint8_t node, const Identity& id) {
        SetU32(node, 0x1000, 0, id.deviceType);
        SetU8(node, 0x1001, 0, id.errorRegister);
        SetText(node, 0x1008, id.deviceName);
        SetText(node, 0x1009, id.hardwareVersion);
        SetText(node, 0x100A, id.softwareVersion);
        SetU32(node, 0x1018, 1, id.vendorId);
        SetU32(node, 0x1018, 2, id.productCode);
        SetU32(node, 0x1018, 3, id.revisionNumber);
        SetU32(node, 0x1018, 4, id.serialNumber);
    }

    void SetNodeOnline(std::uint8_t node, std::uint32_t value) { setNodeOnline_(node, value); }
    void SetOpenError(std::uint32_t value) { setOpenError_(value); }
    void SetSettings(const void* config, const QVX_COPN_NetworkSettings& settings) {
        setSettings_(config, &settings);
    }
    void SetObserver(void (*notify)(const char*)) { setObserver_(notify); }

private:
    template <typename F> void look(F*& slot, const char* name) {
        slot = reinterpret_cast<F*>(GetProcAddress(module_, name));
        ASSERT_NE(slot, nullptr) << name;
    }

    HMODULE module_ = nullptr;
    void (*reset_)() = nullptr;
    void (*clearCalls_)() = nullptr;
    void (*setResult_)(const char*, std::int32_t) = nullptr;
    void (*queueResults_)(const char*, const std::int32_t*, std::uint32_t) = nullptr;
    void (*setObject_)(std::uint8_t, std::uint16_t, std::uint8_t, const std::uint8_t*,
                       std::uint32_t) = nullptr;
    void (*setNodeOnline_)(std::uint8_t, std::uint32_t) = nullptr;
    void (*setOpenError_)(std::uint32_t) = nullptr;
    void (*setSettings_)(const void*, const QVX_COPN_NetworkSettings*) = nullptr;
    void (*setObserver_)(void (*)(const char*)) = nullptr;
    const char* (*calls_)() = nullptr;
};

// Points the program's driver search at a folder while it lives.
class DriverFolder {
public:
    explicit DriverFolder(const std::string& folder) {
        setenv(DriverPathVariable, folder.c_str(), 1);
    }
    ~DriverFolder() { unsetenv(DriverPathVariable); }
    DriverFolder(const DriverFolder&) = delete;
    DriverFolder& operator=(const DriverFolder&) = delete;
};
