#pragma once

#include "DynamicLibrary.h"
#include "Qvx_dnet_exports.h"

#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

using Calls = std::vector<std::string>;

// The controls of the fake DeviceNet driver library (FakeDnet.cpp), reached through the same
// library the program loads. Attach while the driver path names the fake's folder.
class FakeDnetDriver {
public:
    FakeDnetDriver() = default;
    ~FakeDnetDriver() { Detach(); }
    FakeDnetDriver(const FakeDnetDriver&) = delete;
    FakeDnetDriver& operator=(const FakeDnetDriver&) = delete;

    void Attach() {
        module_ = LoadLibraryA("QVX_DNET.dll");
        ASSERT_NE(module_, nullptr) << LastLibraryLoadError();
        look(reset_, "Fake_Reset");
        look(clearCalls_, "Fake_ClearCalls");
        look(setResult_, "Fake_SetResult");
        look(queueResults_, "Fake_QueueResults");
        look(setAttribute_, "Fake_SetAttribute");
        look(setPresent_, "Fake_SetPresent");
        look(queuePresence_, "Fake_QueuePresence");
        look(setSettings_, "Fake_SetSettings");
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
    // Forgets the calls and the whole script.
    void Reset() { reset_(); }

    void SetResult(const char* name, std::int32_t result) { setResult_(name, result); }
    void QueueResults(const char* name, const std::vector<std::int32_t>& values) {
        queueResults_(name, values.data(), static_cast<std::uint32_t>(values.size()));
    }

    void SetBytes(std::uint8_t mac, std::uint16_t cls, std::uint16_t attr,
                  const std::vector<std::uint8_t>& data, std::uint16_t inst = 1) {
        setAttribute_(mac, cls, inst, attr, data.data(), static_cast<std::uint32_t>(data.size()));
    }
    void SetValue(std::uint8_t mac, std::uint16_t cls, std::uint16_t attr, std::uint32_t value,
                  std::size_t width) {
        std::vector<std::uint8_t> data;
        for (std::size_t i = 0; i < width; ++i)
            data.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        SetBytes(mac, cls, attr, data);
    }
    // A SHORT_STRING: its length byte, then the characters.
    void SetShortString(std::uint8_t mac, std::uint16_t cls, std::uint16_t attr,
                        const std::string& text) {
        std::vector<std::uint8_t> data{static_cast<std::uint8_t>(text.size())};
        data.insert(data.end(), text.begin(), text.end());
        SetBytes(mac, cls, attr, data);
    }

    struct Identity {
        std::uint16_t vendorId = 729;
        std::uint16_t deviceType = 12;
        std::uint16_t productCode = 0x1FE2;
        std::uint8_t major = 2, minor = 5;
        std::uint32_t serialNumber = 100234;
        std::string productName = "Fake Node";
    };
    // The attributes of a node's Identity object (class 0x01, instance 1).
    void SetIdentity(std::uint8_t mac, const Identity& id) {
        SetValue(mac, 0x01, 1, id.vendorId, 2);
        SetValue(mac, 0x01, 2, id.deviceType, 2);
        SetValue(mac, 0x01, 3, id.productCode, 2);
        SetBytes(mac, 0x01, 4, {id.major, id.minor});
        SetValue(mac, 0x01, 6, id.serialNumber, 4);
        SetShortString(mac, 0x01, 7, id.productName);
    }

    void SetPresent(std::uint8_t mac, std::uint32_t value) { setPresent_(mac, value); }
    void QueuePresence(std::uint8_t mac, const std::vector<std::uint32_t>& values) {
        queuePresence_(mac, values.data(), static_cast<std::uint32_t>(values.size()));
    }
    void SetSettings(const void* config, const QVX_DNET_NetworkSettings& settings) {
        setSettings_(config, &settings);
    }

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
    void (*setAttribute_)(std::uint8_t, std::uint16_t, std::uint16_t, std::uint16_t,
                          const std::uint8_t*, std::uint32_t) = nullptr;
    void (*setPresent_)(std::uint8_t, std::uint32_t) = nullptr;
    void (*queuePresence_)(std::uint8_t, const std::uint32_t*, std::uint32_t) = nullptr;
    void (*setSettings_)(const void*, const QVX_DNET_NetworkSettings*) = nullptr;
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
