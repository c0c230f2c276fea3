#pragma once

#include "DriverTraits.h"
#include "Interface.h"
#include "InterfaceRegistry.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace drivercore {

// A text into a caller's buffer of 256 bytes, cut to fit.
void CopyText(const char* text, char* out);

// The exports every CAN driver library has, done once: the library itself, its
// configuration and windows, and the interface behind a handle. A driver keeps one
// DriverLibrary, made from its traits, and its exports call it; each returns the export's
// result (1 success, 0 failure) and writes out-values only on success.
class DriverLibrary {
public:
    explicit DriverLibrary(const DriverTraits& traits) : traits_(traits) {}
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    const DriverTraits& Traits() const { return traits_; }
    InterfaceRegistry& Registry() { return registry_; }

    // --- The library: texts go into the caller's buffers of 256 bytes.
    std::int32_t Unload();
    std::int32_t Version(std::uint32_t* major, std::uint32_t* minor) const;
    std::int32_t Name(char* text) const;
    std::int32_t InterfaceName(std::uint32_t interfaceType, char* text) const;

    // --- The configuration: the 300-byte interface record and the 52-byte network settings.
    // A null key path means the one SetRegistryPath gave.
    std::int32_t ReadConfiguration(const char* keyPath, void* config, void* networkSettings);
    std::int32_t SaveConfiguration(const char* keyPath, void* config, void* networkSettings);
    std::int32_t SetRegistryPath(const char* keyPath);
    std::int32_t ConfigurationWindow(void* config, void* networkSettings);
    // h's interface, when open, shows in it too.
    std::int32_t VersionWindow(std::uint32_t h);

    // --- The interface. Opening the simulated network closes the handle on it before: its
    // nodes serve one master at a time. An interface that does not open says why on standard
    // error and leaves ErrorWrongMode or ErrorCannotOpen in the caller's last-error value.
    std::int32_t OpenInterface(std::uint32_t* h, void* config);
    std::int32_t OpenCard(std::uint32_t h);
    std::int32_t CloseCard(std::uint32_t h);
    std::int32_t HardwareVersion(std::uint32_t h, std::uint32_t* major, std::uint32_t* minor);
    std::int32_t SetBaud(std::uint32_t h, std::uint32_t bitRate);
    std::int32_t GetBaud(std::uint32_t h, std::uint32_t* bitRate);
    // A master that does not go online leaves its WhyNotOnline in the last-error value.
    std::int32_t SetOnline(std::uint32_t h, std::uint32_t online);
    std::int32_t GetOnline(std::uint32_t h, std::uint32_t* online);

    // A master on a port someone else provides and opened (a test's bus): its bit rate is
    // only recorded.
    Opened OpenOnPort(std::shared_ptr<bus::CanPort> port, MasterClock clock = SteadyMasterClock());
    // Registers an interface that opened and returns its handle; for one that did not, does
    // as OpenInterface says and returns 0.
    std::uint32_t Register(Opened opened);

    // f(interface) for an open handle; the export's result.
    template <typename F> std::int32_t On(std::uint32_t h, F&& f) {
        const std::shared_ptr<Interface> interface = registry_.Find(h);
        return interface && f(*interface) ? 1 : 0;
    }
    // f(master) with the driver's own master type.
    template <typename M, typename F> std::int32_t OnMaster(std::uint32_t h, F&& f) {
        return On(h, [&](Interface& interface) { return f(interface.MasterAs<M>()); });
    }

private:
    std::string keyPathOr(const char* keyPath);

    const DriverTraits& traits_;
    InterfaceRegistry registry_;
    std::mutex registryPathMutex_;
    std::string registryPath_;
};

} // namespace drivercore
