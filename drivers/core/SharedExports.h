#pragma once

// The exports every CAN driver library has, declared once. A driver's own exports header
// includes this one; its library defines them with DRIVERCORE_DEFINE_SHARED_EXPORTS, each
// handing the call to the driver's DriverLibrary. Every export returns nonzero for success
// and 0 for failure; out-parameters are written only on success; h is a handle OpenInterface
// handed out, and a handle that is not open or a null pointer fails without effect.

#include <cstdint>

#define DRIVERCORE_EXPORT extern "C" __attribute__((visibility("default")))

// --- The library --------------------------------------------------------------------------

// Closes every open interface.
DRIVERCORE_EXPORT std::int32_t UnloadDriver(void);
// Nothing to do: the library is ready once loaded.
DRIVERCORE_EXPORT std::int32_t LoadDriver(void);
// The library's version; h is not used.
DRIVERCORE_EXPORT std::int32_t DLL_Version(std::uint32_t h, std::uint32_t* major,
                                           std::uint32_t* minor);
// The library's name ("QVX_COPN", "QVX_DNET"); h is not used.
DRIVERCORE_EXPORT std::int32_t DLL_Name(std::uint32_t h, char* text);

// --- The interface ------------------------------------------------------------------------

// Opens the interface the 300-byte record names (its first word: 0 the simulated network,
// 1 SocketCAN, 2 Qt virtual CAN, with the interface name in the access-point text) and
// writes its handle. On failure the calling thread's last-error is 0x20000000 when the
// interface opened but cannot send (listen-only, bus-off), else 0x20000001; the reason goes
// to standard error. The simulated network serves one handle at a time: opening it again
// closes the handle before.
DRIVERCORE_EXPORT std::int32_t OpenInterface(std::uint32_t* h, void* config);
// Nonzero when h is open.
DRIVERCORE_EXPORT std::int32_t OpenCard(std::uint32_t h);
// Goes offline, stops the library's threads for h and closes the interface; h is not valid
// afterwards. CloseInterface is the same.
DRIVERCORE_EXPORT std::int32_t CloseCard(std::uint32_t h);
DRIVERCORE_EXPORT std::int32_t CloseInterface(std::uint32_t h);
// The interface's hardware and firmware versions (1.0 for every interface).
DRIVERCORE_EXPORT std::int32_t Hardware_Version(std::uint32_t h, std::uint32_t* major,
                                                std::uint32_t* minor);
DRIVERCORE_EXPORT std::int32_t Firmware_Version(std::uint32_t h, std::uint32_t* major,
                                                std::uint32_t* minor);
// The bus's bit rate in bit/s, one the driver's bus takes: the simulated wire's, or the
// device's (a Qt device is opened again with it). GetBaud fails until SetBaud succeeded.
DRIVERCORE_EXPORT std::int32_t SetBaud(std::uint32_t h, std::uint32_t bitRate);
DRIVERCORE_EXPORT std::int32_t GetBaud(std::uint32_t h, std::uint32_t* bitRate);
// Online (1) the master takes part in the bus; offline (0) it sends nothing and every node
// counts as absent. Going online fails with the driver's reason in the last-error value
// (0x20000000 when the interface cannot send).
DRIVERCORE_EXPORT std::int32_t SetOnline(std::uint32_t h, std::uint32_t online);
DRIVERCORE_EXPORT std::int32_t GetOnline(std::uint32_t h, std::uint32_t* online);

// --- Configuration ------------------------------------------------------------------------

// The interface record (300 bytes) and network settings (52 bytes: own address, bit rate, 44
// bytes unused) stored under the key path ("\Software\Maker\Program\"), a file below
// $XDG_CONFIG_HOME; what is not stored takes its default: the simulated network and the
// driver's own address and bit rate. Both fail for a key path that names no place.
DRIVERCORE_EXPORT std::int32_t ReadConfiguration(const char* keyPath, void* config,
                                                 void* networkSettings);
DRIVERCORE_EXPORT std::int32_t SaveConfiguration(const char* keyPath, void* config,
                                                 void* networkSettings);
// The CAN interfaces have no hardware settings beyond the configuration window's: fails.
DRIVERCORE_EXPORT std::int32_t HardwareConfigurationWindow(std::uint32_t value);
// The name of an interface type: "Simulated network", "SocketCAN", "Virtual CAN".
DRIVERCORE_EXPORT std::int32_t GetInterfaceName(std::uint32_t interfaceType, char* text);

// Defines the exports above, each handing its call to library(), the driver's DriverLibrary.
#define DRIVERCORE_DEFINE_SHARED_EXPORTS(library)                                                  \
    DRIVERCORE_EXPORT std::int32_t UnloadDriver(void) {                                            \
        return library().Unload();                                                                 \
    }                                                                                              \
    DRIVERCORE_EXPORT std::int32_t LoadDriver(void) {                                              \
        return 1;                                                                                  \
    }                                                                                              \
    DRIVERCORE_EXPORT std::int32_t DLL_Version(std::uint32_t, std::uint32_t* major,                \
                                               std::uint32_t* minor) {                             \
        return library().Version(major, minor);                                                    \
    }                                                                                              \
    DRIVERCORE_EXPORT std::int32_t DLL_Name(std::uint32_t, char* text) {                           \
        return library().Name(text);                                                               \
    }                                                                                              \
    DRIVERCORE_EXPORT std::int32_t OpenInterface(std::uint32_t* h, void* config) {                 \
        return library().OpenInterface(h, config);                                                 \
    }                                                                                              \
    DRIVERCORE_EXPORT std::int32_t OpenCard(std::uint32_t h) {                                     \
        return library().OpenCard(h);                                                              \
    }                                                                                              \
    DRIVERCORE_EXPORT std::int32_t CloseCard(std::uint32_t h) {                                    \
        return library().CloseCard(h);                                                             \
    }                                                                                              \
    DRIVERCORE_EXPORT std::int32_t CloseInterface(std::uint32_t h) {                               \
        return library().CloseCard(h);                                                             \
    }                                                                                              \
    DRIVERCORE_EXPORT std::int32_t Hardware_Version(std::uint32_t h, std::uint32_t* major,         \
                                                    std::uint32_t* minor) {                        \
        return library().HardwareVersion(h, major, minor);                                         \
    }                                                                                              \
    DRIVERCORE_EXPORT std::int32_t Firmware_Version(std::uint32_t h, std::uint32_t* major,         \
                                                    std::uint32_t* minor) {                        \
        return library().HardwareVersion(h, major, minor);                                         \
    }                                                                                              \
    DRIVERCORE_EXPORT std::int32_t SetBaud(std::uint32_t h, std::uint32_t bitRate) {               \
        return library().SetBaud(h, bitRate);                                                      \
    }                                                                                              \
    DRIVERCORE_EXPORT std::int32_t GetBaud(std::uint32_t h, std::uint32_t* bitRate) {              \
        return library().GetBaud(h, bitRate);                                                      \
    }                                                                                              \
    DRIVERCORE_EXPORT std::int32_t SetOnline(std::uint32_t h, std::uint32_t online) {              \
        return library().SetOnline(h, online);                                                     \
    }                                                                                              \
    DRIVERCORE_EXPORT std::int32_t GetOnline(std::uint32_t h, std::uint32_t* online) {             \
        return library().GetOnline(h, online);                                                     \
    }                                                                                              \
    DRIVERCORE_EXPORT std::int32_t ReadConfiguration(const char* keyPath, void* config,            \
                                                     void* networkSettings) {                      \
        return library().ReadConfiguration(keyPath, config, networkSettings);                      \
    }                                                                                              \
    DRIVERCORE_EXPORT std::int32_t SaveConfiguration(const char* keyPath, void* config,            \
                                                     void* networkSettings) {                      \
        return library().SaveConfiguration(keyPath, config, networkSettings);                      \
    }                                                                                              \
    DRIVERCORE_EXPORT std::int32_t HardwareConfigurationWindow(std::uint32_t) {                    \
        return 0;                                                                                  \
    }                                                                                              \
    DRIVERCORE_EXPORT std::int32_t GetInterfaceName(std::uint32_t interfaceType, char* text) {     \
        return library().InterfaceName(interfaceType, text);                                       \
    }
