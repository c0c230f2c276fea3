#pragma once

#include "devicenet/ExplicitServer.h"

#include <map>
#include <string>
#include <tuple>
#include <vector>

// A few objects of a node for the explicit messaging tests: attributes with their values, and
// whether Set_Attribute_Single may change them. Reached by the server only, one call at a
// time.
class TestObjects : public bus::devicenet::ExplicitObjects {
public:
    struct Attribute {
        std::vector<std::uint8_t> value;
        bool settable = false;
    };
    using Key = std::tuple<std::uint16_t, std::uint16_t, std::uint8_t>; // class, instance, attr

    TestObjects() {
        set({0x01, 1, 1}, {{0xD9, 0x02}});                    // vendor ID 729
        set({0x01, 1, 3}, {{0xE2, 0x9F}});                    // product code 0x9FE2
        set({0x01, 1, 7}, {shortString("ZANDREL DN-NODE5")}); // product name
        set({0xC7, 1, 3}, {{}, true});                        // command
        set({0xC7, 1, 8}, {shortString("BOOT")});             // sector name
        set({0x64, 1, 1}, {{}, true});                        // a value of any length
    }

    static std::vector<std::uint8_t> shortString(const std::string& text) {
        std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(text.size())};
        bytes.insert(bytes.end(), text.begin(), text.end());
        return bytes;
    }

    void set(Key key, Attribute attribute) { attributes_[key] = std::move(attribute); }
    const std::vector<std::uint8_t>& value(Key key) const { return attributes_.at(key).value; }
    int calls() const { return calls_; }

    bus::devicenet::ServiceResult Service(std::uint8_t service, std::uint16_t classId,
                                          std::uint16_t instance,
                                          const std::vector<std::uint8_t>& request) override {
        using bus::devicenet::ServiceResult;
        namespace Status = bus::devicenet::GeneralStatus;
        ++calls_;
        if (service == bus::devicenet::Service::Reset && classId == 0x01)
            return ServiceResult::Ok();
        bool objectExists = false;
        for (const auto& [key, attribute] : attributes_)
            objectExists |= std::get<0>(key) == classId && std::get<1>(key) == instance;
        if (!objectExists)
            return ServiceResult::Error(Status::ObjectDoesNotExist);
        if (service != bus::devicenet::Service::GetAttributeSingle &&
            service != bus::devicenet::Service::SetAttributeSingle)
            return ServiceResult::Error(Status::ServiceNotSupported);
        if (request.empty())
            return ServiceResult::Error(Status::NotEnoughData);
        const auto it = attributes_.find({classId, instance, request[0]});
        if (it == attributes_.end())
            return ServiceResult::Error(Status::AttributeNotSupported);
        if (service == bus::devicenet::Service::GetAttributeSingle) {
            if (request.size() > 1)
                return ServiceResult::Error(Status::TooMuchData);
            return ServiceResult::Ok(it->second.value);
        }
        if (!it->second.settable)
            return ServiceResult::Error(Status::AttributeNotSettable);
        it->second.value.assign(request.begin() + 1, request.end());
        return ServiceResult::Ok();
    }

private:
    std::map<Key, Attribute> attributes_;
    int calls_ = 0;
};
