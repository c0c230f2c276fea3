#include "VarnixLink.h"

#include "VarnixModule.h"

#include <cstdio>

VarnixLink& VarnixLink::Instance() {
    static VarnixLink link;
    return link;
}

sim::FlashNode* VarnixLink::module() {
    if (!module_) {
        std::string error;
        const std::string folder = sim::DefaultVarnixModuleFolder();
        if (folder.empty())
            error = "neither XDG_DATA_HOME nor a home folder is set: no place for the flash";
        else
            module_ = sim::OpenVarnixModule(folder, &error);
        // The module stays off the link rather than keep its flash in memory only.
        if (!module_)
            std::fprintf(stderr, "zandrel: simulated VARNIX module: %s\n", error.c_str());
    }
    return module_.get();
}

sim::FlashNode* VarnixLink::moduleFor(std::uint32_t handle) {
    auto it = connections_.find(handle);
    if (it == connections_.end())
        return nullptr;
    sim::FlashNode* node = module();
    if (!node || !node->Online() || node->Incarnation() != it->second.incarnation) {
        connections_.erase(it); // the module restarted: this connection is gone
        return nullptr;
    }
    return node;
}

bool VarnixLink::Open(const InterfaceRecord& config, std::uint32_t* handle) {
    std::lock_guard lock(mutex_);
    sim::FlashNode* node = module();
    if (!node || !node->Online())
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
