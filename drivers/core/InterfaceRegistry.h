#pragma once

#include "Interface.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace drivercore {

// The open interfaces of a driver library, by the handles its exports hand out. A handle
// stays valid until its interface is closed; calls that hold its interface meanwhile finish
// with it (failing, once it is closed).
class InterfaceRegistry {
public:
    // A new handle, never 0 and never one in use.
    std::uint32_t Add(std::shared_ptr<Interface> interface);
    // Null for a handle that is not open.
    std::shared_ptr<Interface> Find(std::uint32_t handle) const;
    // Closes the handle's interface; false for a handle that is not open.
    bool Close(std::uint32_t handle);
    // Closes every interface of the type.
    void CloseType(std::uint32_t type);
    void CloseAll();

private:
    mutable std::mutex mutex_;
    std::map<std::uint32_t, std::shared_ptr<Interface>> open_;
    std::uint32_t next_ = 0x434F0001;
};

} // namespace drivercore
