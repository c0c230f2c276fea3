#include "VarnixLink.h"

#include "VarnixModule.h"

VarnixLink& VarnixLink::Instance() {
    static VarnixLink link;
    return link;
}

sim::FlashNode* VarnixLink::module() {
    if (!module_)
        module_ = sim::OpenVarnixModule(sim::DefaultVarnixModuleFolder());
    return module_.get();
}

sim::FlashNode* VarnixLink::moduleFor(std::uint32_t handle) {
    auto it = connections_.find(handle);
    if (it == connections_.end())
        return nullptr;
    sim::FlashNode* node = module();
    if (!node->Online() || node->Incarnation() != it->second.incarnation) {
        connections_.erase(it); // the module restarted: this connection is gone
        return nullptr;
    }
    return node;
}

bool VarnixLink::Open(const InterfaceRecord& config, std::uint32_t* handle) {
    std::lock_guard lock(mutex_);
    sim::FlashNode* node = module();
    if (!node->Online())
        return false;
    // The module serves one connection at a time: opening again takes the link over.
    connections_.clear();
    std::uint32_t h = nextHandle_++;
    if (nextHandle_ == 0)
        nextHandle_ = 1;
    connections_[h] = {node->Incarnation(), config.comPort != 0};
    *handle = h;
    return true;
}

bool VarnixLink::Close(std::uint32_t handle) {
    std::lock_guard lock(mutex_);
    return connections_.erase(handle) > 0;
}

bool VarnixLink::IsOpen(std::uint32_t handle) {
    std::lock_guard lock(mutex_);
    return moduleFor(handle) != nullptr;
}

void VarnixLink::Unload() {
    std::lock_guard lock(mutex_);
    connections_.clear();
    module_.reset();
}
