#include "DriverLibrary.h"

#include "CanErrors.h"
#include "CanSettings.h"
#include "ConfigDialog.h"
#include "ProgramLastError.h"
#include "VersionWindow.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace drivercore {

void CopyText(const char* text, char* out) {
    const std::size_t n = std::min<std::size_t>(std::strlen(text), 255);
    std::memcpy(out, text, n);
    out[n] = '\0';
}

namespace {

// The records as the caller's buffers hold them (no alignment promised).
InterfaceRecord recordAt(const void* config) {
    InterfaceRecord record;
    std::memcpy(&record, config, sizeof record);
    return record;
}

NetworkSettings settingsAt(const void* networkSettings) {
    NetworkSettings network;
    std::memcpy(&network, networkSettings, sizeof network);
    return network;
}

} // namespace

std::int32_t DriverLibrary::Unload() {
    registry_.CloseAll();
    return 1;
}

std::int32_t DriverLibrary::Version(std::uint32_t* major, std::uint32_t* minor) const {
    if (!major || !minor)
        return 0;
    *major = traits_.versionMajor;
    *minor = traits_.versionMinor;
    return 1;
}

std::int32_t DriverLibrary::Name(char* text) const {
    if (!text)
        return 0;
    CopyText(traits_.libraryName, text);
    return 1;
}

std::int32_t DriverLibrary::InterfaceName(std::uint32_t interfaceType, char* text) const {
    const char* name = InterfaceTypeName(interfaceType);
    if (!text || !name)
        return 0;
    CopyText(name, text);
    return 1;
}

std::string DriverLibrary::keyPathOr(const char* keyPath) {
    if (keyPath)
        return keyPath;
    std::lock_guard lock(registryPathMutex_);
    return registryPath_;
}

std::int32_t DriverLibrary::ReadConfiguration(const char* keyPath, void* config,
                                              void* networkSettings) {
    if (!config || !networkSettings)
        return 0;
    const std::string path = keyPathOr(keyPath);
    InterfaceRecord record;
    NetworkSettings network;
    if (path.empty() || !ReadSettings(traits_, path.c_str(), &record, &network))
        return 0;
    std::memcpy(config, &record, sizeof record);
    std::memcpy(networkSettings, &network, sizeof network);
    return 1;
}

std::int32_t DriverLibrary::SaveConfiguration(const char* keyPath, void* config,
                                              void* networkSettings) {
    if (!config || !networkSettings)
        return 0;
    const std::string path = keyPathOr(keyPath);
    return !path.empty() && SaveSettings(traits_, path.c_str(), recordAt(config),
                                         settingsAt(networkSettings))
               ? 1
               : 0;
}

std::int32_t DriverLibrary::SetRegistryPath(const char* keyPath) {
    if (!keyPath || !*keyPath)
        return 0;
    std::lock_guard lock(registryPathMutex_);
    registryPath_ = keyPath;
    return 1;
}

std::int32_t DriverLibrary::ConfigurationWindow(void* config, void* networkSettings) {
    if (!config || !networkSettings)
        return 0;
    InterfaceRecord record = recordAt(config);
    NetworkSettings network = settingsAt(networkSettings);
    if (!ShowConfigDialog(traits_, &record, &network))
        return 0;
    std::memcpy(config, &record, sizeof record);
    std::memcpy(networkSettings, &network, sizeof network);
    return 1;
}

std::int32_t DriverLibrary::VersionWindow(std::uint32_t h) {
    VersionFacts facts;
    facts.major = traits_.versionMajor;
    facts.minor = traits_.versionMinor;
    if (const auto interface = registry_.Find(h)) {
        facts.interfaceOpen = true;
        facts.interfaceType = interface->Type();
        facts.bitRate = interface->BitRate().value_or(0);
        facts.address = interface->Master().OwnAddress();
        facts.online = interface->Master().Online();
    }
    return ShowVersionWindow(traits_, facts) ? 1 : 0;
}

std::int32_t DriverLibrary::OpenInterface(std::uint32_t* h, void* config) {
    if (!h || !config)
        return 0;
    const InterfaceRecord record = recordAt(config);
    // The simulated nodes serve one master at a time: a new one takes them over.
    if (record.interfaceType == SimulatedNetwork)
        registry_.CloseType(SimulatedNetwork);
    const std::uint32_t handle = Register(OpenInterfaceFor(traits_, record));
    if (handle == 0)
        return 0;
    *h = handle;
    return 1;
}

Opened DriverLibrary::OpenOnPort(std::shared_ptr<bus::CanPort> port, MasterClock clock) {
    return drivercore::OpenOnPort(traits_, std::move(port), std::move(clock));
}

std::uint32_t DriverLibrary::Register(Opened opened) {
    if (!opened.interface) {
        std::fprintf(stderr, "zandrel: %s: %s\n", traits_.libraryName, opened.error.c_str());
        SetProgramLastError(opened.wrongMode ? ErrorWrongMode : ErrorCannotOpen);
        return 0;
    }
    return registry_.Add(std::move(opened.interface));
}

std::int32_t DriverLibrary::OpenCard(std::uint32_t h) {
    return On(h, [](Interface&) { return true; });
}

std::int32_t DriverLibrary::CloseCard(std::uint32_t h) {
    return registry_.Close(h) ? 1 : 0;
}

std::int32_t DriverLibrary::HardwareVersion(std::uint32_t h, std::uint32_t* major,
                                            std::uint32_t* minor) {
    if (!major || !minor)
        return 0;
    return On(h, [&](Interface&) { return *major = 1, *minor = 0, true; });
}

std::int32_t DriverLibrary::SetBaud(std::uint32_t h, std::uint32_t bitRate) {
    return On(h, [&](Interface& interface) { return interface.SetBitRate(bitRate); });
}

std::int32_t DriverLibrary::GetBaud(std::uint32_t h, std::uint32_t* bitRate) {
    if (!bitRate)
        return 0;
    return On(h, [&](Interface& interface) {
        const auto rate = interface.BitRate();
        return rate && (*bitRate = *rate, true);
    });
}

std::int32_t DriverLibrary::SetOnline(std::uint32_t h, std::uint32_t online) {
    return On(h, [&](Interface& interface) {
        if (interface.Master().SetOnline(online != 0))
            return true;
        SetProgramLastError(interface.Master().WhyNotOnline());
        return false;
    });
}

std::int32_t DriverLibrary::GetOnline(std::uint32_t h, std::uint32_t* online) {
    if (!online)
        return 0;
    return On(h, [&](Interface& interface) {
        return *online = interface.Master().Online() ? 1 : 0, true;
    });
}

} // namespace drivercore
