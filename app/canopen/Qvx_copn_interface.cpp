#include "Qvx_copn_interface.h"

#include "DynamicLibrary.h"

#include <algorithm>

using std::int32_t;
using std::uint16_t;
using std::uint32_t;
using std::uint8_t;

namespace {

// The identity entries of the communication profile.
constexpr uint16_t DeviceTypeIndex = 0x1000;
constexpr uint16_t ErrorRegisterIndex = 0x1001;
constexpr uint16_t DeviceNameIndex = 0x1008;
constexpr uint16_t HardwareVersionIndex = 0x1009;
constexpr uint16_t SoftwareVersionIndex = 0x100A;
constexpr uint16_t IdentityObjectIndex = 0x1018;

// Calls the export when it is there; 0 without calling when it is not.
template <typename F, typename... Args> int32_t call(F export_, Args... args) {
    return export_ ? export_(args...) : 0;
}

} // namespace

void IdentityText::Store(const uint8_t* bytes, std::size_t length) {
    const std::size_t n = std::min(length, Size - 1);
    for (std::size_t i = 0; i < n; ++i)
        chars_[i] = static_cast<char>(bytes[i]);
    chars_[n] = '\0';
}

std::string IdentityText::Text() const {
    std::string text;
    for (const auto& c : chars_) {
        const char value = c;
        if (value == '\0')
            break;
        text += value;
    }
    return text;
}

TQVX_COPN_Interface::TQVX_COPN_Interface() {
    DriverModule = LoadLibraryA("QVX_COPN.dll");
    if (!DriverModule)
        return; // every operation now returns 0
#define QVX_COPN_LOOK_UP(name, type)                                                               \
    Driver.name = reinterpret_cast<type>(GetProcAddress(DriverModule, #name));
    QVX_COPN_EXPORTS(QVX_COPN_LOOK_UP)
#undef QVX_COPN_LOOK_UP
#define QVX_COPN_LOOK_UP(name, type)                                                               \
    ProgramDriver.name = reinterpret_cast<type>(GetProcAddress(DriverModule, #name));
    QVX_COPN_PROGRAM_EXPORTS(QVX_COPN_LOOK_UP)
#undef QVX_COPN_LOOK_UP
}

TQVX_COPN_Interface::~TQVX_COPN_Interface() {
    SetOnline(driverHandle, 0);
    CloseCard(driverHandle);
    UnloadDriver();
    if (DriverModule) {
        FreeLibrary(DriverModule);
        DriverModule = nullptr;
    }
}

int32_t TQVX_COPN_Interface::SDO_Block_Transfer(uint32_t handle, uint8_t node, uint16_t index,
                                                uint8_t subIndex, uint32_t flags, uint32_t* length,
                                                uint8_t* data, QVX_COPN_TransferProgress progress,
                                                void* context, uint32_t* went) {
    return call(ProgramDriver.SDO_Block_Transfer, handle, node, index, subIndex, flags, length,
                data, progress, context, went);
}

int32_t TQVX_COPN_Interface::OpenInterface(uint32_t* handle, InterfaceConfigRecord* config) {
    return call(Driver.OpenInterface, handle, static_cast<void*>(config));
}

int32_t TQVX_COPN_Interface::SetNodeID(uint32_t handle, uint8_t nodeId) {
    return call(Driver.SetNodeID, handle, nodeId);
}

int32_t TQVX_COPN_Interface::SetBaud(uint32_t handle, uint32_t bitRate) {
    return call(Driver.SetBaud, handle, bitRate);
}

int32_t TQVX_COPN_Interface::AddNode(uint32_t handle, uint8_t node) {
    return call(Driver.AddNode, handle, node);
}

int32_t TQVX_COPN_Interface::SetOnline(uint32_t handle, uint32_t online) {
    return call(Driver.SetOnline, handle, online);
}

int32_t TQVX_COPN_Interface::CloseCard(uint32_t handle) {
    return call(Driver.CloseCard, handle);
}

int32_t TQVX_COPN_Interface::NMT_ResetCommunication(uint32_t handle, uint8_t node) {
    return call(Driver.NMT_ResetCommunication, handle, node);
}

int32_t TQVX_COPN_Interface::NMT_ResetNode(uint32_t handle, uint8_t node) {
    return call(Driver.NMT_ResetNode, handle, node);
}

int32_t TQVX_COPN_Interface::NMT_StartGuarding(uint32_t handle, uint8_t node,
                                               uint8_t lifeTimeFactor, uint16_t guardTimeMs) {
    return call(Driver.NMT_StartGuarding, handle, node, lifeTimeFactor, guardTimeMs);
}

int32_t TQVX_COPN_Interface::GetNodeOnline(uint32_t handle, uint8_t node, uint32_t* online) {
    return call(Driver.GetNodeOnline, handle, node, online);
}

std::string TQVX_COPN_Interface::ErrorText(uint32_t code) const {
    char text[256] = {};
    if (!call(Driver.GetErrorString, code, text))
        return {};
    text[sizeof text - 1] = '\0';
    return text;
}

int32_t TQVX_COPN_Interface::SetSDOTimeout(uint32_t handle, uint16_t timeoutMs) {
    return call(Driver.SetSDOTimeout, handle, timeoutMs);
}

int32_t TQVX_COPN_Interface::SDO_Download_UNSIGNED8(uint32_t handle, uint8_t node, uint16_t index,
                                                    uint8_t subIndex, uint8_t value) {
    return call(Driver.SDO_Download_UNSIGNED8, handle, node, index, subIndex, value);
}

int32_t TQVX_COPN_Interface::SDO_Download_UNSIGNED32(uint32_t handle, uint8_t node, uint16_t index,
                                                     uint8_t subIndex, uint32_t value) {
    return call(Driver.SDO_Download_UNSIGNED32, handle, node, index, subIndex, value);
}

int32_t TQVX_COPN_Interface::SDO_Download(uint32_t handle, uint8_t node, uint16_t index,
                                          uint8_t subIndex, uint32_t length, const uint8_t* data) {
    return call(Driver.SDO_Download, handle, node, index, subIndex, length, data);
}

int32_t TQVX_COPN_Interface::SDO_Upload_UNSIGNED8(uint32_t handle, uint8_t node, uint16_t index,
                                                  uint8_t subIndex, uint8_t* value) {
    return call(Driver.SDO_Upload_UNSIGNED8, handle, node, index, subIndex, value);
}

int32_t TQVX_COPN_Interface::SDO_Upload_UNSIGNED32(uint32_t handle, uint8_t node, uint16_t index,
                                                   uint8_t subIndex, uint32_t* value) {
    return call(Driver.SDO_Upload_UNSIGNED32, handle, node, index, subIndex, value);
}

int32_t TQVX_COPN_Interface::SDO_Upload(uint32_t handle, uint8_t node, uint16_t index,
                                        uint8_t subIndex, uint32_t* length, uint8_t* data) {
    return call(Driver.SDO_Upload, handle, node, index, subIndex, length, data);
}

int32_t TQVX_COPN_Interface::CANopenConfigurationWindow(InterfaceConfigRecord* config,
                                                        QVX_COPN_NetworkSettings* settings) {
    return call(Driver.CANopenConfigurationWindow, static_cast<void*>(config),
                static_cast<void*>(settings));
}

int32_t TQVX_COPN_Interface::HardwareConfigurationWindow(uint32_t value) {
    return call(Driver.HardwareConfigurationWindow, value);
}

int32_t TQVX_COPN_Interface::ReadConfiguration(const char* keyPath, InterfaceConfigRecord* config,
                                               QVX_COPN_NetworkSettings* settings) {
    return call(Driver.ReadConfiguration, keyPath, static_cast<void*>(config),
                static_cast<void*>(settings));
}

int32_t TQVX_COPN_Interface::SaveConfiguration(const char* keyPath, InterfaceConfigRecord* config,
                                               QVX_COPN_NetworkSettings* settings) {
    return call(Driver.SaveConfiguration, keyPath, static_cast<void*>(config),
                static_cast<void*>(settings));
}

int32_t TQVX_COPN_Interface::GetInterfaceName(uint32_t interfaceType, char* text) {
    return call(Driver.GetInterfaceName, interfaceType, text);
}

int32_t TQVX_COPN_Interface::UnloadDriver() {
    return call(Driver.UnloadDriver);
}

// A text entry through a buffer of 256 bytes, offered whole on every upload.
int32_t TQVX_COPN_Interface::readText(uint32_t h, uint8_t n, uint16_t index, IdentityText& text) {
    uint8_t buffer[QVX_COPN_UPLOAD_CAPACITY];
    uint32_t length = sizeof buffer;
    const int32_t result = SDO_Upload(h, n, index, 0, &length, buffer);
    if (result)
        text.Store(buffer, std::min<uint32_t>(length, sizeof buffer));
    return result;
}

int32_t TQVX_COPN_Interface::ReadNodeIdentity(uint8_t n) {
    if (n >= MaxNodes)
        return 0;
    NodeIdentity& identity = Identity[n];
    const uint32_t h = driverHandle;
    SetSDOTimeout(h, SdoTimeout());

    uint32_t deviceType = 0;
    if (!SDO_Upload_UNSIGNED32(h, n, DeviceTypeIndex, 0, &deviceType) &&
        !SDO_Upload_UNSIGNED32(h, n, DeviceTypeIndex, 0, &deviceType))
        return 0;
    identity.deviceType = deviceType;

    uint8_t errorRegister = 0;
    if (SDO_Upload_UNSIGNED8(h, n, ErrorRegisterIndex, 0, &errorRegister))
        identity.errorRegister = errorRegister;

    readText(h, n, DeviceNameIndex, identity.deviceName);
    readText(h, n, HardwareVersionIndex, identity.hardwareVersion);
    readText(h, n, SoftwareVersionIndex, identity.softwareVersion);

    Relaxed<uint32_t>* const entries[] = {&identity.vendorId, &identity.productCode,
                                          &identity.revisionNumber, &identity.serialNumber};
    uint8_t subIndex = 1;
    for (Relaxed<uint32_t>* entry : entries) {
        uint32_t value = 0;
        if (SDO_Upload_UNSIGNED32(h, n, IdentityObjectIndex, subIndex, &value))
            *entry = value;
        ++subIndex;
    }
    return 1;
}
