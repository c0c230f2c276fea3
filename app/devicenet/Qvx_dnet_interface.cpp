#include "Qvx_dnet_interface.h"

#include "DynamicLibrary.h"
#include "RepeatWhileUnanswered.h"

#include <algorithm>
#include <cstring>

using std::int32_t;
using std::uint16_t;
using std::uint32_t;
using std::uint8_t;

namespace {

// Calls the export when it is there; 0 without calling when it is not.
template <typename F, typename... Args> int32_t call(F export_, Args... args) {
    return export_ ? export_(args...) : 0;
}

// A read changes nothing on the node: one the node left unanswered (a frame lost on the bus)
// is asked again, at most twice.
constexpr int ReadAttempts = 3;

template <typename F, typename... Args> int32_t read(F export_, Args... args) {
    return RepeatWhileUnanswered(ReadAttempts, QVX_DNET_ERROR_NO_ANSWER,
                                 [&] { return call(export_, args...); });
}

} // namespace

std::string DnetNodeIdentity::ProductNameText() const {
    std::string text;
    const std::size_t length = productName[0];
    for (std::size_t i = 1; i <= length && i < ProductNameSize; ++i) {
        const char c = static_cast<char>(productName[i].load());
        if (c == '\0')
            break; // past the bytes received
        text += c;
    }
    return text;
}

TQVX_DNET_Interface::TQVX_DNET_Interface() {
    DriverModule = LoadLibraryA("QVX_DNET.dll");
    if (!DriverModule)
        return; // every operation now returns 0
#define QVX_DNET_LOOK_UP(name, type)                                                               \
    Driver.name = reinterpret_cast<type>(GetProcAddress(DriverModule, #name));
    QVX_DNET_EXPORTS(QVX_DNET_LOOK_UP, QVX_DNET_LOOK_UP)
#undef QVX_DNET_LOOK_UP
}

TQVX_DNET_Interface::~TQVX_DNET_Interface() {
    CloseCard();
    Unload();
}

int32_t TQVX_DNET_Interface::GetAttribute(uint8_t mac, uint16_t cls, uint16_t inst, uint16_t attr,
                                          uint16_t* length, uint8_t* data) {
    return read(Driver.GetAttribute, driverHandle.load(), mac, cls, inst, attr, length, data);
}

int32_t TQVX_DNET_Interface::GetAttribute_USINT(uint8_t mac, uint16_t cls, uint16_t inst,
                                                uint16_t attr, uint8_t* value) {
    return read(Driver.GetAttribute_USINT, driverHandle.load(), mac, cls, inst, attr, value);
}

int32_t TQVX_DNET_Interface::GetAttribute_UINT(uint8_t mac, uint16_t cls, uint16_t inst,
                                               uint16_t attr, uint16_t* value) {
    return read(Driver.GetAttribute_UINT, driverHandle.load(), mac, cls, inst, attr, value);
}

int32_t TQVX_DNET_Interface::GetAttribute_UDINT(uint8_t mac, uint16_t cls, uint16_t inst,
                                                uint16_t attr, uint32_t* value) {
    return read(Driver.GetAttribute_UDINT, driverHandle.load(), mac, cls, inst, attr, value);
}

int32_t TQVX_DNET_Interface::SetAttribute(uint8_t mac, uint16_t cls, uint16_t inst, uint16_t attr,
                                          uint16_t length, const uint8_t* data) {
    return call(Driver.SetAttribute, driverHandle.load(), mac, cls, inst, attr, length, data);
}

int32_t TQVX_DNET_Interface::SetAttribute_USINT(uint8_t mac, uint16_t cls, uint16_t inst,
                                                uint16_t attr, uint8_t value) {
    return call(Driver.SetAttribute_USINT, driverHandle.load(), mac, cls, inst, attr, value);
}

int32_t TQVX_DNET_Interface::SetAttribute_UDINT(uint8_t mac, uint16_t cls, uint16_t inst,
                                                uint16_t attr, uint32_t value) {
    return call(Driver.SetAttribute_UDINT, driverHandle.load(), mac, cls, inst, attr, value);
}

int32_t TQVX_DNET_Interface::ExplicitService(uint8_t mac, uint8_t service, uint16_t cls,
                                             uint16_t inst, uint16_t requestLength,
                                             const uint8_t* request, uint16_t* responseLength,
                                             uint8_t* response) {
    return call(Driver.ExplicitService, driverHandle.load(), mac, service, cls, inst, requestLength,
                request, responseLength, response);
}

int32_t TQVX_DNET_Interface::SetBaud() {
    return call(Driver.SetBaud, driverHandle.load(), networkSettings.BaudRate);
}

int32_t TQVX_DNET_Interface::SetMacID() {
    return call(Driver.SetMacID, driverHandle.load(),
                static_cast<uint8_t>(networkSettings.MacId & 0xFF));
}

int32_t TQVX_DNET_Interface::SetOnline(uint32_t on) {
    return call(Driver.SetOnline, driverHandle.load(), on);
}

int32_t TQVX_DNET_Interface::NodeOnline(uint8_t mac, uint32_t* present) {
    return call(Driver.NodeOnline, driverHandle.load(), mac, present);
}

int32_t TQVX_DNET_Interface::AddToScanlist(uint8_t mac, uint8_t flags,
                                           ScanlistEntryParams* params) {
    return call(Driver.AddToScanlist, driverHandle.load(), mac, flags, static_cast<void*>(params));
}

int32_t TQVX_DNET_Interface::RemoveFromScanlist(uint8_t mac, uint8_t flags) {
    return call(Driver.RemoveFromScanlist, driverHandle.load(), mac, flags);
}

int32_t TQVX_DNET_Interface::StartScan() {
    return call(Driver.StartScan, driverHandle.load());
}

int32_t TQVX_DNET_Interface::StopScan() {
    return call(Driver.StopScan, driverHandle.load());
}

int32_t TQVX_DNET_Interface::CloseCard() {
    return call(Driver.CloseCard, driverHandle.load());
}

int32_t TQVX_DNET_Interface::OpenInterface() {
    uint32_t handle = driverHandle;
    const int32_t result =
        call(Driver.OpenInterface, &handle, static_cast<void*>(&interfaceConfig));
    if (result)
        driverHandle = handle;
    return result;
}

int32_t TQVX_DNET_Interface::DeviceNetConfigurationWindow() {
    return call(Driver.DeviceNetConfigurationWindow, static_cast<void*>(&interfaceConfig),
                static_cast<void*>(&networkSettings));
}

int32_t TQVX_DNET_Interface::HardwareConfigurationWindow(uint32_t value) {
    return call(Driver.HardwareConfigurationWindow, value);
}

int32_t TQVX_DNET_Interface::ReadConfiguration(const char* keyPath) {
    return call(Driver.ReadConfiguration, keyPath, static_cast<void*>(&interfaceConfig),
                static_cast<void*>(&networkSettings));
}

int32_t TQVX_DNET_Interface::SaveConfiguration(const char* keyPath) {
    return call(Driver.SaveConfiguration, keyPath, static_cast<void*>(&interfaceConfig),
                static_cast<void*>(&networkSettings));
}

int32_t TQVX_DNET_Interface::GetInterfaceName(char* text) {
    return call(Driver.GetInterfaceName, interfaceConfig.InterfaceType, text);
}

int32_t TQVX_DNET_Interface::VersionInformationWindow() {
    return call(Driver.VersionInformationWindow, driverHandle.load());
}

int32_t TQVX_DNET_Interface::Unload() {
    const int32_t result = call(Driver.UnloadDriver);
    if (DriverModule) {
        FreeLibrary(DriverModule);
        DriverModule = nullptr;
        Driver = {};
    }
    return result;
}

int32_t TQVX_DNET_Interface::ReadNodeIdentity(uint8_t mac) {
    if (mac >= MaxNodes)
        return 0;
    DnetNodeIdentity& identity = Identity[mac];

    struct Word {
        uint16_t attribute;
        Relaxed<uint16_t>* field;
    };
    for (const Word& word : {Word{VendorIdAttribute, &identity.vendorId},
                             Word{DeviceTypeAttribute, &identity.deviceType},
                             Word{ProductCodeAttribute, &identity.productCode}}) {
        uint16_t value = 0;
        if (!GetAttribute_UINT(mac, IdentityClass, IdentityInstance, word.attribute, &value))
            return 0;
        *word.field = value;
    }

    uint8_t revision[2] = {};
    uint16_t length = sizeof revision;
    if (!GetAttribute(mac, IdentityClass, IdentityInstance, RevisionAttribute, &length, revision) ||
        length != sizeof revision)
        return 0;
    identity.revision = static_cast<uint16_t>(revision[0] << 8 | revision[1]);

    uint32_t serialNumber = 0;
    if (!GetAttribute_UDINT(mac, IdentityClass, IdentityInstance, SerialNumberAttribute,
                            &serialNumber))
        return 0;
    identity.serialNumber = serialNumber;

    uint8_t name[DnetNodeIdentity::ProductNameSize] = {};
    length = sizeof name;
    if (!GetAttribute(mac, IdentityClass, IdentityInstance, ProductNameAttribute, &length, name))
        return 0;
    const std::size_t received = std::min<std::size_t>(length, sizeof name);
    for (std::size_t i = 0; i < sizeof name; ++i)
        identity.productName[i] = i < received ? name[i] : 0;
    return 1;
}
