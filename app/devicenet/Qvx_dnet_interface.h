#pragma once

#include "InterfaceConfigRecord.h"
#include "Qvx_dnet_exports.h"
#include "RelaxedAtomic.h"
#include "WinTypes.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

// What the browse read from one node's Identity object (class 0x01, instance 1); all zero
// until then. The nodes-online thread writes it while the GUI thread reads it, so every
// field is a relaxed atomic.
struct DnetNodeIdentity {
    static constexpr std::size_t ProductNameSize = 256;

    Relaxed<std::uint16_t> vendorId;     // attribute 1
    Relaxed<std::uint16_t> deviceType;   // attribute 2
    Relaxed<std::uint16_t> productCode;  // attribute 3
    Relaxed<std::uint16_t> revision;     // attribute 4: major in bits 8-15, minor in bits 0-7
    Relaxed<std::uint32_t> serialNumber; // attribute 6
    // Attribute 7 as received, a SHORT_STRING: a length byte, then the characters; zero
    // past the bytes received.
    Relaxed<std::uint8_t> productName[ProductNameSize];

    // The characters of the product name: as many as its length byte gives, no further than
    // the bytes received.
    std::string ProductNameText() const;
};

// The binding of the DeviceNet driver library QVX_DNET.dll. The constructor loads the
// library and looks up its exports; each operation calls the export it is named after,
// with the driver handle first where the export takes one, and returns its result, or
// returns 0 without calling anything when the library or the export is missing. Besides the
// exports it holds what the driver exchanges with the program: the driver handle, the
// identity of every MAC ID, the interface configuration record and the network settings.
//
// No lock is taken: the exports are looked up before any other thread can call, the
// identities are written by the nodes-online thread and read by the GUI thread (relaxed
// atomics), and the two records belong to the GUI thread.
class TQVX_DNET_Interface {
public:
    static constexpr int MaxNodes = 64;
    static constexpr std::uint16_t IdentityClass = 0x01;
    static constexpr std::uint16_t IdentityInstance = 1;
    enum IdentityAttribute : std::uint16_t {
        VendorIdAttribute = 1,
        DeviceTypeAttribute = 2,
        ProductCodeAttribute = 3,
        RevisionAttribute = 4,
        SerialNumberAttribute = 6,
        ProductNameAttribute = 7,
    };

    TQVX_DNET_Interface();
    // Closes the interface, has the driver unload and releases the library.
    virtual ~TQVX_DNET_Interface();
    TQVX_DNET_Interface(const TQVX_DNET_Interface&) = delete;
    TQVX_DNET_Interface& operator=(const TQVX_DNET_Interface&) = delete;

    std::int32_t GetAttribute(std::uint8_t mac, std::uint16_t cls, std::uint16_t inst,
                              std::uint16_t attr, std::uint16_t* length, std::uint8_t* data);
    std::int32_t GetAttribute_USINT(std::uint8_t mac, std::uint16_t cls, std::uint16_t inst,
                                    std::uint16_t attr, std::uint8_t* value);
    std::int32_t GetAttribute_UINT(std::uint8_t mac, std::uint16_t cls, std::uint16_t inst,
                                   std::uint16_t attr, std::uint16_t* value);
    std::int32_t GetAttribute_UDINT(std::uint8_t mac, std::uint16_t cls, std::uint16_t inst,
                                    std::uint16_t attr, std::uint32_t* value);
    std::int32_t SetAttribute(std::uint8_t mac, std::uint16_t cls, std::uint16_t inst,
                              std::uint16_t attr, std::uint16_t length, const std::uint8_t* data);
    std::int32_t SetAttribute_USINT(std::uint8_t mac, std::uint16_t cls, std::uint16_t inst,
                                    std::uint16_t attr, std::uint8_t value);
    std::int32_t SetAttribute_UDINT(std::uint8_t mac, std::uint16_t cls, std::uint16_t inst,
                                    std::uint16_t attr, std::uint32_t value);
    std::int32_t ExplicitService(std::uint8_t mac, std::uint8_t service, std::uint16_t cls,
                                 std::uint16_t inst, std::uint16_t requestLength,
                                 const std::uint8_t* request, std::uint16_t* responseLength,
                                 std::uint8_t* response);
    // The baud rate of the network settings.
    std::int32_t SetBaud();
    // The low byte of the network settings' own MAC ID.
    std::int32_t SetMacID();
    std::int32_t SetOnline(std::uint32_t on);
    std::int32_t NodeOnline(std::uint8_t mac, std::uint32_t* present);
    std::int32_t AddToScanlist(std::uint8_t mac, std::uint8_t flags, ScanlistEntryParams* params);
    std::int32_t RemoveFromScanlist(std::uint8_t mac, std::uint8_t flags);
    std::int32_t StartScan();
    std::int32_t StopScan();
    std::int32_t CloseCard();
    // Opens the interface the configuration record describes; the handle the driver gives
    // is kept from then on.
    std::int32_t OpenInterface();
    // The driver's window over the configuration record and the network settings.
    std::int32_t DeviceNetConfigurationWindow();
    std::int32_t HardwareConfigurationWindow(std::uint32_t value);
    // Both records, from or to what is stored under keyPath.
    std::int32_t ReadConfiguration(const char* keyPath);
    std::int32_t SaveConfiguration(const char* keyPath);
    // The name of the interface type of the configuration record (256 bytes at text).
    std::int32_t GetInterfaceName(char* text);
    std::int32_t VersionInformationWindow();
    // Has the driver unload its device driver, then releases the library.
    std::int32_t Unload();

    // Reads the Identity object of node mac into its record, stopping with 0 at the first
    // read that fails: the fields read before it are stored, the rest keep their values.
    // 1 when all six reads worked.
    std::int32_t ReadNodeIdentity(std::uint8_t mac);

    // Every look-up the constructor makes, in its order (CloseCard twice).
    static constexpr const char* ExportNames[] = {
#define QVX_DNET_NAME(name, type) #name,
        QVX_DNET_EXPORTS(QVX_DNET_NAME, QVX_DNET_NAME)
#undef QVX_DNET_NAME
    };

    // The exports, null where the library or the name is missing. Written only by the
    // constructor.
    struct Exports {
#define QVX_DNET_SLOT(name, type) type name = nullptr;
#define QVX_DNET_SAME_SLOT(name, type)
        QVX_DNET_EXPORTS(QVX_DNET_SLOT, QVX_DNET_SAME_SLOT)
#undef QVX_DNET_SAME_SLOT
#undef QVX_DNET_SLOT
    };
    Exports Driver;
    // Written by OpenInterface, passed first to every export that works on the open
    // interface; it keeps its last value after CloseCard.
    Relaxed<std::uint32_t> driverHandle{0};
    HMODULE DriverModule = nullptr;
    DnetNodeIdentity Identity[MaxNodes];
    InterfaceConfigRecord interfaceConfig{};
    QVX_DNET_NetworkSettings networkSettings{};
};

static_assert(std::size(TQVX_DNET_Interface::ExportNames) == 72);
static_assert(sizeof(QVX_DNET_NetworkSettings) == 52);
static_assert(sizeof(ScanlistEntryParams) == 8);
static_assert(sizeof(InterfaceConfigRecord) == QVX_DNET_CONFIG_SIZE);
