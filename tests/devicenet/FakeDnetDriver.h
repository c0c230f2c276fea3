#pragma once

#include "FakeDriverControls.h"
#include "Qvx_dnet_exports.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The controls of the fake DeviceNet driver library (FakeDnet.cpp): besides the calls and
// results every fake has, the nodes' attributes, their presence, and the configuration the
// driver gives.
class FakeDnetDriver : public FakeDriverControls {
public:
    FakeDnetDriver() : FakeDriverControls("QVX_DNET.dll") {}

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
    void LookUpOwnControls() override {
        look(setAttribute_, "Fake_SetAttribute");
        look(setPresent_, "Fake_SetPresent");
        look(queuePresence_, "Fake_QueuePresence");
        look(setSettings_, "Fake_SetSettings");
    }

    void (*setAttribute_)(std::uint8_t, std::uint16_t, std::uint16_t, std::uint16_t,
                          const std::uint8_t*, std::uint32_t) = nullptr;
    void (*setPresent_)(std::uint8_t, std::uint32_t) = nullptr;
    void (*queuePresence_)(std::uint8_t, const std::uint32_t*, std::uint32_t) = nullptr;
    void (*setSettings_)(const void*, const QVX_DNET_NetworkSettings*) = nullptr;
};
