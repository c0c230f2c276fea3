#pragma once

#include "InterfaceConfigRecord.h"
#include "Qvx_copn_exports.h"
#include "RelaxedAtomic.h"
#include "WinTypes.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

// A zero-terminated text of at most 255 characters that one thread writes while another
// reads it. Each character is a relaxed atomic, so a reader that meets a write in progress
// sees a mixture of old and new characters, never undefined behaviour.
class IdentityText {
public:
    static constexpr std::size_t Size = 256;

    // Stores the first length bytes (at most 255) and a terminating zero.
    void Store(const std::uint8_t* bytes, std::size_t length);
    // The text up to its terminating zero.
    std::string Text() const;

private:
    Relaxed<char> chars_[Size];
};

// What the browse read from one node's communication profile (all zero until then).
struct NodeIdentity {
    Relaxed<std::uint32_t> deviceType;     // 0x1000:00
    Relaxed<std::uint8_t> errorRegister;   // 0x1001:00
    IdentityText deviceName;               // 0x1008:00
    IdentityText hardwareVersion;          // 0x1009:00
    IdentityText softwareVersion;          // 0x100A:00
    Relaxed<std::uint32_t> vendorId;       // 0x1018:01
    Relaxed<std::uint32_t> productCode;    // 0x1018:02
    Relaxed<std::uint32_t> revisionNumber; // 0x1018:03
    Relaxed<std::uint32_t> serialNumber;   // 0x1018:04
};

// The binding of the CANopen driver library QVX_COPN.dll. The constructor loads the library
// and looks up its exports; each operation calls the export it is named after with the
// arguments it is given and returns its result, or returns 0 without calling anything when
// the library or the export is missing. Besides the exports it holds what belongs to the
// interface: the driver's handle, the identity of every node address and the interface
// settings.
//
// No lock is taken: the exports are looked up before any other thread can call, the
// per-node identities are written by the nodes-online thread and read by the GUI thread
// (relaxed atomics), and the settings belong to the GUI thread.
class TQVX_COPN_Interface {
public:
    static constexpr int MaxNodes = 128;
    static constexpr std::uint16_t IdentitySdoTimeout = 500; // ms

    TQVX_COPN_Interface();
    virtual ~TQVX_COPN_Interface();
    TQVX_COPN_Interface(const TQVX_COPN_Interface&) = delete;
    TQVX_COPN_Interface& operator=(const TQVX_COPN_Interface&) = delete;

    std::int32_t OpenInterface(std::uint32_t* handle, InterfaceConfigRecord* config);
    std::int32_t SetNodeID(std::uint32_t handle, std::uint8_t nodeId);
    std::int32_t SetBaud(std::uint32_t handle, std::uint32_t bitRate);
    std::int32_t AddNode(std::uint32_t handle, std::uint8_t node);
    std::int32_t SetOnline(std::uint32_t handle, std::uint32_t online);
    std::int32_t CloseCard(std::uint32_t handle);
    std::int32_t NMT_ResetCommunication(std::uint32_t handle, std::uint8_t node);
    std::int32_t NMT_ResetNode(std::uint32_t handle, std::uint8_t node);
    std::int32_t NMT_StartGuarding(std::uint32_t handle, std::uint8_t node,
                                   std::uint8_t lifeTimeFactor, std::uint16_t guardTimeMs);
    std::int32_t GetNodeOnline(std::uint32_t handle, std::uint8_t node, std::uint32_t* online);
    std::int32_t SetSDOTimeout(std::uint32_t handle, std::uint16_t timeoutMs);
    // The driver's words for an error code it left (an SDO abort code's meaning); empty when
    // it has none.
    std::string ErrorText(std::uint32_t code) const;
    // The SDO answer time-out this interface works with: IdentitySdoTimeout unless the user
    // chose another. An identity read sets it on the driver; SetSDOTimeout does not change it.
    std::uint16_t SdoTimeout() const { return sdoTimeout_.load(std::memory_order_relaxed); }
    void SetSdoTimeoutChoice(std::uint16_t timeoutMs) {
        sdoTimeout_.store(timeoutMs ? timeoutMs : IdentitySdoTimeout, std::memory_order_relaxed);
    }
    std::int32_t SDO_Download_UNSIGNED8(std::uint32_t handle, std::uint8_t node,
                                        std::uint16_t index, std::uint8_t subIndex,
                                        std::uint8_t value);
    std::int32_t SDO_Download_UNSIGNED32(std::uint32_t handle, std::uint8_t node,
                                         std::uint16_t index, std::uint8_t subIndex,
                                         std::uint32_t value);
    std::int32_t SDO_Download(std::uint32_t handle, std::uint8_t node, std::uint16_t index,
                              std::uint8_t subIndex, std::uint32_t length,
                              const std::uint8_t* data);
    std::int32_t SDO_Upload_UNSIGNED8(std::uint32_t handle, std::uint8_t node, std::uint16_t index,
                                      std::uint8_t subIndex, std::uint8_t* value);
    std::int32_t SDO_Upload_UNSIGNED32(std::uint32_t handle, std::uint8_t node, std::uint16_t index,
                                       std::uint8_t subIndex, std::uint32_t* value);
    std::int32_t SDO_Upload(std::uint32_t handle, std::uint8_t node, std::uint16_t index,
                            std::uint8_t subIndex, std::uint32_t* length, std::uint8_t* data);
    // SDO block transfer, segmented where the node refuses it (see the contract).
    std::int32_t SDO_Block_Transfer(std::uint32_t handle, std::uint8_t node, std::uint16_t index,
                                    std::uint8_t subIndex, std::uint32_t flags,
                                    std::uint32_t* length, std::uint8_t* data,
                                    QVX_COPN_TransferProgress progress, void* context,
                                    std::uint32_t* went);
    std::int32_t CANopenConfigurationWindow(InterfaceConfigRecord* config,
                                            QVX_COPN_NetworkSettings* settings);
    std::int32_t HardwareConfigurationWindow(std::uint32_t value);
    std::int32_t ReadConfiguration(const char* keyPath, InterfaceConfigRecord* config,
                                   QVX_COPN_NetworkSettings* settings);
    std::int32_t SaveConfiguration(const char* keyPath, InterfaceConfigRecord* config,
                                   QVX_COPN_NetworkSettings* settings);
    std::int32_t GetInterfaceName(std::uint32_t interfaceType, char* text);
    std::int32_t UnloadDriver();

    // Reads the identity of node n into its record: the device type (tried twice; when both
    // tries fail nothing else is read and 0 is returned), then the error register, the three
    // texts and the four entries of the identity object. An item whose upload fails keeps
    // its earlier value. Every transfer from now on has a 500 ms time-out.
    std::int32_t ReadNodeIdentity(std::uint8_t n);

    // Every export the constructor looks up, in the order it looks them up.
    static constexpr const char* ExportNames[] = {
#define QVX_COPN_NAME(name, type) #name,
        QVX_COPN_EXPORTS(QVX_COPN_NAME)
#undef QVX_COPN_NAME
    };

    // The exports, null where the library or the name is missing. Written only by the
    // constructor.
    struct Exports {
#define QVX_COPN_SLOT(name, type) type name = nullptr;
        QVX_COPN_EXPORTS(QVX_COPN_SLOT)
#undef QVX_COPN_SLOT
    };
    Exports Driver;
    // What the standard program download looks up, after the names above.
    struct ProgramExports {
#define QVX_COPN_SLOT(name, type) type name = nullptr;
        QVX_COPN_PROGRAM_EXPORTS(QVX_COPN_SLOT)
#undef QVX_COPN_SLOT
    };
    ProgramExports ProgramDriver;
    HMODULE DriverModule = nullptr;
    // Written by OpenInterface, passed first to every export that works on the open
    // interface; it keeps its last value after CloseCard.
    Relaxed<std::uint32_t> driverHandle{0};
    NodeIdentity Identity[MaxNodes];
    InterfaceConfigRecord interfaceConfig{};
    QVX_COPN_NetworkSettings networkSettings{};

private:
    std::int32_t readText(std::uint32_t h, std::uint8_t n, std::uint16_t index, IdentityText& text);

    std::atomic<std::uint16_t> sdoTimeout_{IdentitySdoTimeout};
};

static_assert(std::size(TQVX_COPN_Interface::ExportNames) == 70);
static_assert(sizeof(QVX_COPN_NetworkSettings) == 52);
static_assert(sizeof(InterfaceConfigRecord) == QVX_COPN_CONFIG_SIZE);
