#pragma once

#include "CanInterface.h"
#include "ProgramLastError.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace canif {

// The last-error values a CAN driver leaves when an interface does not open.
inline constexpr std::uint32_t ErrorWrongMode = 0x20000000;  // the interface cannot send
inline constexpr std::uint32_t ErrorCannotOpen = 0x20000001; // the interface does not open

// The open interfaces of a driver library, by the handles its exports hand out. A handle
// stays valid until its interface is closed; calls that hold its interface meanwhile finish
// with it (failing, once it is closed).
template <typename Interface> class InterfaceRegistry {
public:
    static InterfaceRegistry& Instance() {
        static InterfaceRegistry registry;
        return registry;
    }

    // A new handle, never 0 and never one in use.
    std::uint32_t Add(std::shared_ptr<Interface> interface) {
        std::lock_guard lock(mutex_);
        while (next_ == 0 || open_.count(next_))
            ++next_;
        const std::uint32_t handle = next_++;
        open_[handle] = std::move(interface);
        return handle;
    }

    // Null for a handle that is not open.
    std::shared_ptr<Interface> Find(std::uint32_t handle) const {
        std::lock_guard lock(mutex_);
        const auto it = open_.find(handle);
        return it == open_.end() ? nullptr : it->second;
    }

    // Closes the handle's interface; false for a handle that is not open.
    bool Close(std::uint32_t handle) {
        std::shared_ptr<Interface> interface;
        {
            std::lock_guard lock(mutex_);
            const auto it = open_.find(handle);
            if (it == open_.end())
                return false;
            interface = std::move(it->second);
            open_.erase(it);
        }
        interface->Close(); // outside the lock: it waits for the master's thread
        return true;
    }

    // Closes every interface of the type.
    void CloseType(std::uint32_t type) {
        std::vector<std::shared_ptr<Interface>> closing;
        {
            std::lock_guard lock(mutex_);
            for (auto it = open_.begin(); it != open_.end();) {
                if (it->second->Type() == type) {
                    closing.push_back(std::move(it->second));
                    it = open_.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (const auto& interface : closing)
            interface->Close();
    }

    void CloseAll() {
        std::map<std::uint32_t, std::shared_ptr<Interface>> closing;
        {
            std::lock_guard lock(mutex_);
            closing.swap(open_);
        }
        for (const auto& [handle, interface] : closing)
            interface->Close();
    }

private:
    mutable std::mutex mutex_;
    std::map<std::uint32_t, std::shared_ptr<Interface>> open_;
    std::uint32_t next_ = 0x434F0001;
};

// Registers an interface that opened and returns its handle; for one that did not, says
// why on standard error (naming the driver), sets the calling thread's last-error
// (ErrorWrongMode or ErrorCannotOpen) and returns 0.
template <typename Interface>
std::uint32_t RegisterOpened(const char* driver, BasicOpened<Interface> opened) {
    if (!opened.interface) {
        std::fprintf(stderr, "zandrel: %s: %s\n", driver, opened.error.c_str());
        SetProgramLastError(opened.wrongMode ? ErrorWrongMode : ErrorCannotOpen);
        return 0;
    }
    return InterfaceRegistry<Interface>::Instance().Add(std::move(opened.interface));
}

} // namespace canif
