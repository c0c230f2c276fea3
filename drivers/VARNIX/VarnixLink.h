#pragma once

#include "FlashNode.h"
#include "InterfaceRecord.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

// The link from the PC to the VARNIX module, over USB or RS-232; on this system both reach
// the simulated module. Open hands out a handle and takes the link over from any handle
// before it; a restart of the module drops the handle too. All calls are serialised by one lock, so
// the exports may be called from several threads at once.
class VarnixLink {
public:
    static VarnixLink& Instance();

    // Runs f with the module while the handle is valid and the module on the link; false
    // (f not run) otherwise.
    template <typename F> bool WithModule(std::uint32_t handle, F&& f) {
        std::lock_guard lock(mutex_);
        sim::FlashNode* node = moduleFor(handle);
        if (!node)
            return false;
        return f(*node);
    }

    // The most bytes one block carries over the RS-232 link; USB frames take any block.
    static constexpr std::uint8_t SerialBlockLimit = 8;

    // As WithModule, for a block of length bytes: false (f not run) also when the block is
    // longer than the handle's link carries.
    template <typename F> bool WithBlock(std::uint32_t handle, std::uint8_t length, F&& f) {
        std::lock_guard lock(mutex_);
        sim::FlashNode* node = moduleFor(handle);
        if (!node || (connections_.at(handle).serial && length > SerialBlockLimit))
            return false;
        return f(*node);
    }

    bool Open(const InterfaceRecord& config, std::uint32_t* handle);
    bool Close(std::uint32_t handle);
    bool IsOpen(std::uint32_t handle);

    // Forgets the module (its state is on disk already); the next use reads it again.
    void Unload();

private:
    sim::FlashNode* module();
    sim::FlashNode* moduleFor(std::uint32_t handle);

    struct Connection {
        std::uint64_t incarnation;
        bool serial;
    };
    std::mutex mutex_;
    std::unique_ptr<sim::FlashNode> module_;
    std::map<std::uint32_t, Connection> connections_;
    std::uint32_t nextHandle_ = 0x5A000001;
};
