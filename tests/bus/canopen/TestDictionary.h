#pragma once

#include "canopen/SdoServer.h"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A small object dictionary for the SDO tests: entries with their access and, for typed
// entries, their length. Read and written by the SDO server only, on one thread at a time.
class TestDictionary : public bus::canopen::ObjectDictionary {
public:
    enum class Access { ReadOnly, WriteOnly, ReadWrite };
    struct Entry {
        std::vector<std::uint8_t> value;
        Access access = Access::ReadWrite;
        std::optional<std::size_t> length; // a typed entry takes exactly this many bytes
        std::uint32_t refuseWith = 0;      // every write is refused with this code
    };

    TestDictionary() {
        using A = Access;
        set(0x1000, 0, {{0x92, 0x01, 0x02, 0x00}, A::ReadOnly, 4});
        set(0x1001, 0, {{0x00}, A::ReadOnly, 1});
        set(0x1008, 0, {bytes("ZANDREL-N3"), A::ReadOnly, {}});
        set(0x1018, 0, {{0x04}, A::ReadOnly, 1});
        set(0x1018, 1, {{0x2A, 0x00, 0x00, 0x00}, A::ReadOnly, 4});
        set(0x3600, 0, {{}, A::WriteOnly, {}});
        set(0x3605, 0, {{}, A::ReadOnly, {}});
        set(0x3606, 0, {{}, A::ReadWrite, {}});
        set(0x360B, 0, {{0x02}, A::ReadWrite, 1});
        set(0x360F, 0, {{}, A::WriteOnly, 4});
        set(0x3610, 0, {{0x01}, A::ReadWrite, 1, bus::canopen::SdoAbort::CannotStoreState});
    }

    static std::vector<std::uint8_t> bytes(const std::string& text) {
        return {text.begin(), text.end()};
    }

    void set(std::uint16_t index, std::uint8_t subIndex, Entry entry) {
        entries_[{index, subIndex}] = std::move(entry);
    }
    const std::vector<std::uint8_t>& value(std::uint16_t index, std::uint8_t subIndex) {
        return entries_.at({index, subIndex}).value;
    }
    int writes() const { return writes_; }

    bus::canopen::SdoReadResult Read(std::uint16_t index, std::uint8_t subIndex) override {
        const Entry* entry = nullptr;
        if (const std::uint32_t code = find(index, subIndex, &entry))
            return {code, {}};
        if (entry->access == Access::WriteOnly)
            return {bus::canopen::SdoAbort::WriteOnly, {}};
        return {0, entry->value};
    }

    std::uint32_t CheckWrite(std::uint16_t index, std::uint8_t subIndex,
                             std::optional<std::size_t> size) override {
        const Entry* entry = nullptr;
        if (const std::uint32_t code = find(index, subIndex, &entry))
            return code;
        if (entry->access == Access::ReadOnly)
            return bus::canopen::SdoAbort::ReadOnly;
        if (size && entry->length && *size != *entry->length)
            return bus::canopen::SdoAbort::LengthMismatch;
        return 0;
    }

    std::uint32_t Write(std::uint16_t index, std::uint8_t subIndex,
                        const std::vector<std::uint8_t>& data) override {
        if (const std::uint32_t code = CheckWrite(index, subIndex, data.size()))
            return code;
        Entry& entry = entries_.at({index, subIndex});
        if (entry.refuseWith)
            return entry.refuseWith;
        entry.value = data;
        ++writes_;
        return 0;
    }

private:
    std::uint32_t find(std::uint16_t index, std::uint8_t subIndex, const Entry** entry) const {
        const auto it = entries_.find({index, subIndex});
        if (it != entries_.end()) {
            *entry = &it->second;
            return 0;
        }
        const auto any = entries_.lower_bound({index, 0});
        if (any != entries_.end() && any->first.first == index)
            return bus::canopen::SdoAbort::NoSubIndex;
        return bus::canopen::SdoAbort::NoObject;
    }

    std::map<std::pair<std::uint16_t, std::uint8_t>, Entry> entries_;
    int writes_ = 0;
};
