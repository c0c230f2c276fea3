// A stand-in for libVARNIX.so that records every call and answers from a script. Tests reach
// its controls (Fake_*) through the same handle the downloader loaded. Built twice: whole,
// and without a few exports (FAKE_VARNIX_PARTIAL).

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

using std::int32_t;
using std::uint32_t;
using std::uint8_t;

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex mutex;
std::vector<std::string> calls;
std::map<std::string, int32_t> results;      // default 1
std::map<std::string, uint32_t> firstValues; // out-values by export name
std::map<std::string, uint32_t> secondValues;
uint32_t nextHandle = 0x100;
std::string joinedCalls;

int32_t answer(const std::string& name, const std::string& call) {
    std::lock_guard lock(mutex);
    calls.push_back(call);
    auto it = results.find(name);
    return it == results.end() ? 1 : it->second;
}

uint32_t value(const std::map<std::string, uint32_t>& values, const std::string& name) {
    std::lock_guard lock(mutex);
    auto it = values.find(name);
    return it == values.end() ? 0 : it->second;
}

std::string args(std::initializer_list<uint32_t> values) {
    std::string text = "(";
    for (uint32_t v : values)
        text += (text.size() > 1 ? "," : "") + std::to_string(v);
    return text + ")";
}

#define CALL(name, ...) answer(#name, std::string(#name) + args({__VA_ARGS__}))

} // namespace

// Controls.
EXPORT void Fake_Reset() {
    std::lock_guard lock(mutex);
    calls.clear();
    results.clear();
    firstValues.clear();
    secondValues.clear();
    nextHandle = 0x100;
}
EXPORT void Fake_SetResult(const char* name, int32_t result) {
    std::lock_guard lock(mutex);
    results[name] = result;
}
EXPORT void Fake_SetValues(const char* name, uint32_t first, uint32_t second) {
    std::lock_guard lock(mutex);
    firstValues[name] = first;
    secondValues[name] = second;
}
// Every call so far, one a line.
EXPORT const char* Fake_Calls() {
    std::lock_guard lock(mutex);
    joinedCalls.clear();
    for (const auto& c : calls)
        joinedCalls += c + "\n";
    return joinedCalls.c_str();
}

// The driver's exports.
EXPORT int32_t UnloadDriver() {
    return CALL(UnloadDriver);
}
EXPORT int32_t LoadDriver() {
    return CALL(LoadDriver);
}
EXPORT int32_t OpenInterface(uint32_t* h, const void* config) {
    uint32_t comPort;
    std::memcpy(&comPort, static_cast<const uint8_t*>(config) + 12, 4);
    int32_t r = CALL(OpenInterface, comPort);
    if (r) {
        std::lock_guard lock(mutex);
        *h = nextHandle++;
    }
    return r;
}
EXPORT int32_t CloseInterface(uint32_t h) {
    return CALL(CloseInterface, h);
}
EXPORT int32_t CloseCard(uint32_t h) {
    return CALL(CloseCard, h);
}
EXPORT int32_t OpenCard(uint32_t h) {
    return CALL(OpenCard, h);
}
EXPORT int32_t Hardware_Version(uint32_t h, uint32_t* a, uint32_t* b) {
    int32_t r = CALL(Hardware_Version, h);
    if (r) {
        *a = value(firstValues, "Hardware_Version");
        *b = value(secondValues, "Hardware_Version");
    }
    return r;
}
EXPORT int32_t Firmware_Version(uint32_t h, uint32_t* a, uint32_t* b) {
    int32_t r = CALL(Firmware_Version, h);
    if (r) {
        *a = value(firstValues, "Firmware_Version");
        *b = value(secondValues, "Firmware_Version");
    }
    return r;
}
EXPORT int32_t DLL_Version(uint32_t h, uint32_t*, uint32_t*) {
    return CALL(DLL_Version, h);
}
EXPORT int32_t GetErrorString(uint32_t a, uint32_t b) {
    return CALL(GetErrorString, a, b);
}
EXPORT int32_t Download_Firmware(uint32_t h, uint8_t s, uint32_t address, uint8_t length,
                                 const uint8_t*) {
    return CALL(Download_Firmware, h, s, address, length);
}
EXPORT int32_t Upload_Firmware(uint32_t h, uint8_t s, uint32_t address, uint8_t length,
                               uint8_t* data) {
    int32_t r = CALL(Upload_Firmware, h, s, address, length);
    if (r)
        std::memset(data, 0xAB, length);
    return r;
}
EXPORT int32_t Set_Active_Sector(uint32_t h, uint8_t s) {
    return CALL(Set_Active_Sector, h, s);
}
EXPORT int32_t Get_Active_Sector(uint32_t h, uint8_t* s) {
    int32_t r = CALL(Get_Active_Sector, h);
    if (r)
        *s = static_cast<uint8_t>(value(firstValues, "Get_Active_Sector"));
    return r;
}
EXPORT int32_t Set_Boot_Sector(uint32_t h, uint8_t s) {
    return CALL(Set_Boot_Sector, h, s);
}
EXPORT int32_t Get_Boot_Sector(uint32_t h, uint8_t* s) {
    int32_t r = CALL(Get_Boot_Sector, h);
    if (r)
        *s = static_cast<uint8_t>(value(firstValues, "Get_Boot_Sector"));
    return r;
}
EXPORT int32_t Erase_Sector(uint32_t h, uint8_t s) {
    return CALL(Erase_Sector, h, s);
}
EXPORT int32_t Execute_Firmware(uint32_t h, uint8_t s) {
    return CALL(Execute_Firmware, h, s);
}
EXPORT int32_t Get_Sector_Description(uint32_t h, uint8_t s, void* d) {
    int32_t r = CALL(Get_Sector_Description, h, s);
    if (r)
        std::memset(d, 0x41, 76);
    return r;
}
EXPORT int32_t FirmwareUpgradeMode(uint32_t h, uint32_t password) {
    return CALL(FirmwareUpgradeMode, h, password);
}
EXPORT int32_t Get_Mode(uint32_t h, uint8_t* mode) {
    int32_t r = CALL(Get_Mode, h);
    if (r)
        *mode = static_cast<uint8_t>(value(firstValues, "Get_Mode"));
    return r;
}
EXPORT int32_t Get_Sector_Checksum(uint32_t h, uint8_t s, uint32_t*) {
    return CALL(Get_Sector_Checksum, h, s);
}
EXPORT int32_t Set_Sector_Checksum(uint32_t h, uint8_t s, uint32_t checksum) {
    return CALL(Set_Sector_Checksum, h, s, checksum);
}
EXPORT int32_t Get_Sector_Size(uint32_t h, uint8_t s, uint32_t* size) {
    int32_t r = CALL(Get_Sector_Size, h, s);
    if (r)
        *size = value(firstValues, "Get_Sector_Size");
    return r;
}
EXPORT int32_t Get_Serial_Number(uint32_t h, uint32_t* v) {
    int32_t r = CALL(Get_Serial_Number, h);
    if (r)
        *v = value(firstValues, "Get_Serial_Number");
    return r;
}
EXPORT int32_t Get_Device_Type(uint32_t h, uint32_t* v) {
    int32_t r = CALL(Get_Device_Type, h);
    if (r)
        *v = value(firstValues, "Get_Device_Type");
    return r;
}
EXPORT int32_t Get_Vendor_Id(uint32_t h, uint32_t*) {
    return CALL(Get_Vendor_Id, h);
}
EXPORT int32_t HardwareConfigurationWindow(void* config) {
    int32_t r = CALL(HardwareConfigurationWindow);
    if (r) {
        uint32_t comPort = 3; // the user chose RS-232 on COM3
        std::memcpy(static_cast<uint8_t*>(config) + 12, &comPort, 4);
    }
    return r;
}
EXPORT int32_t Checksum_Ok(uint32_t h, uint8_t s, uint32_t* ok) {
    int32_t r = CALL(Checksum_Ok, h, s);
    if (r)
        *ok = value(firstValues, "Checksum_Ok");
    return r;
}
EXPORT int32_t SaveConfiguration(const char* path, void*) {
    std::lock_guard lock(mutex);
    calls.push_back(std::string("SaveConfiguration(") + path + ")");
    return 1;
}
EXPORT int32_t ReadConfiguration(const char* path, void*) {
    std::lock_guard lock(mutex);
    calls.push_back(std::string("ReadConfiguration(") + path + ")");
    return 1;
}
EXPORT int32_t Set_Serial_Number(uint32_t h, uint32_t v) {
    return CALL(Set_Serial_Number, h, v);
}

#ifndef FAKE_VARNIX_PARTIAL
EXPORT int32_t Reset(uint32_t h) {
    return CALL(Reset, h);
}
EXPORT int32_t Get_Product_Code(uint32_t h, uint32_t* v) {
    int32_t r = CALL(Get_Product_Code, h);
    if (r)
        *v = value(firstValues, "Get_Product_Code");
    return r;
}
EXPORT int32_t Get_Product_Name(uint32_t h, char* text) {
    int32_t r = CALL(Get_Product_Name, h);
    if (r)
        std::strcpy(text, "Fake Module");
    return r;
}
#endif
