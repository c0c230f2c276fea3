#include "InterfaceRegistry.h"

#include <vector>

namespace drivercore {

std::uint32_t InterfaceRegistry::Add(std::shared_ptr<Interface> interface) {
    std::lock_guard lock(mutex_);
    while (next_ == 0 || open_.count(next_))
        ++next_;
    const std::uint32_t handle = next_++;
    open_[handle] = std::move(interface);
    return handle;
}

std::shared_ptr<Interface> InterfaceRegistry::Find(std::uint32_t handle) const {
    std::lock_guard lock(mutex_);
    const auto it = open_.find(handle);
    return it == open_.end() ? nullptr : it->second;
}

bool InterfaceRegistry::Close(std::uint32_t handle) {
    std::shared_ptr<Interface> interface;
    {
        std::lock_guard lock(mutex_);
        const auto it = open_.find(handle);
        if (it == open_.end())
            return false;
        interface = std::move(it->second);
        open_.erase(it);
    }
    interface->Close(); // outside the lock: it waits for the master's threads
    return true;
}

void InterfaceRegistry::CloseType(std::uint32_t type) {
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

void InterfaceRegistry::CloseAll() {
    std::map<std::uint32_t, std::shared_ptr<Interface>> closing;
    {
        std::lock_guard lock(mutex_);
        closing.swap(open_);
    }
    for (const auto& [handle, interface] : closing)
        interface->Close();
}

} // namespace drivercore
