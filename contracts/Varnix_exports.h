#pragma once

/*
 * The exports of the VARNIX interface module's driver library VARNIX.dll (libVARNIX.so) as
 * the program calls them: one function-pointer type per export, and the list of every name
 * it looks up. Plain C, and shared: the driver library builds against it too, and each of
 * its definitions is checked against these types when it compiles, so that a signature
 * that differs does not build.
 *
 * Every export has C linkage and a 32-bit int result, nonzero for success. handle is the
 * value OpenInterface wrote; sector is a sector of the module's flash. An out-value is
 * written only when the call succeeds.
 */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t (*PFN_VARNIX_Library)(void);
typedef int32_t (*PFN_VARNIX_Handle)(uint32_t handle);
/* Opens the interface config (a 300-byte record, not changed) names and writes its handle. */
typedef int32_t (*PFN_VARNIX_OpenInterface)(uint32_t* handle, void* config);
typedef int32_t (*PFN_VARNIX_Version)(uint32_t handle, uint32_t* major, uint32_t* minor);
typedef int32_t (*PFN_VARNIX_GetNumber)(uint32_t handle, uint32_t* value);
typedef int32_t (*PFN_VARNIX_SetNumber)(uint32_t handle, uint32_t value);
typedef int32_t (*PFN_VARNIX_GetErrorString)(uint32_t code, uint32_t detail);
/* length bytes at address of the sector, from data or into data. */
typedef int32_t (*PFN_VARNIX_Download_Firmware)(uint32_t handle, uint8_t sector, uint32_t address,
                                                uint8_t length, const uint8_t* data);
typedef int32_t (*PFN_VARNIX_Upload_Firmware)(uint32_t handle, uint8_t sector, uint32_t address,
                                              uint8_t length, uint8_t* data);
typedef int32_t (*PFN_VARNIX_Sector)(uint32_t handle, uint8_t sector);
typedef int32_t (*PFN_VARNIX_GetSector)(uint32_t handle, uint8_t* sector);
/* The sector's description, as the program's sector description record. */
typedef int32_t (*PFN_VARNIX_Get_Sector_Description)(uint32_t handle, uint8_t sector,
                                                     void* description);
typedef int32_t (*PFN_VARNIX_Get_Mode)(uint32_t handle, uint8_t* mode);
typedef int32_t (*PFN_VARNIX_GetSectorNumber)(uint32_t handle, uint8_t sector, uint32_t* value);
typedef int32_t (*PFN_VARNIX_SetSectorNumber)(uint32_t handle, uint8_t sector, uint32_t value);
/* Zero-terminated, at most 256 bytes. */
typedef int32_t (*PFN_VARNIX_Get_Product_Name)(uint32_t handle, char* text);
/* The record (300 bytes) may be changed by the user. Nonzero = accepted. */
typedef int32_t (*PFN_VARNIX_HardwareConfigurationWindow)(void* config);
/* The record (300 bytes) stored under, or read from, keyPath. */
typedef int32_t (*PFN_VARNIX_Configuration)(const char* keyPath, void* config);

/*
 * Every name the program looks up, in the order it looks them up, each with the type of its
 * pointer: X(name, type).
 */
#define VARNIX_DRIVER_EXPORTS(X)                                                                   \
    X(UnloadDriver, PFN_VARNIX_Library)                                                            \
    X(LoadDriver, PFN_VARNIX_Library)                                                              \
    X(OpenInterface, PFN_VARNIX_OpenInterface)                                                     \
    X(CloseInterface, PFN_VARNIX_Handle)                                                           \
    X(CloseCard, PFN_VARNIX_Handle)                                                                \
    X(Hardware_Version, PFN_VARNIX_Version)                                                        \
    X(Get_Serial_Number, PFN_VARNIX_GetNumber)                                                     \
    X(Firmware_Version, PFN_VARNIX_Version)                                                        \
    X(DLL_Version, PFN_VARNIX_Version)                                                             \
    X(GetErrorString, PFN_VARNIX_GetErrorString)                                                   \
    X(Download_Firmware, PFN_VARNIX_Download_Firmware)                                             \
    X(Upload_Firmware, PFN_VARNIX_Upload_Firmware)                                                 \
    X(Set_Active_Sector, PFN_VARNIX_Sector)                                                        \
    X(Get_Active_Sector, PFN_VARNIX_GetSector)                                                     \
    X(Set_Boot_Sector, PFN_VARNIX_Sector)                                                          \
    X(Get_Boot_Sector, PFN_VARNIX_GetSector)                                                       \
    X(Erase_Sector, PFN_VARNIX_Sector)                                                             \
    X(Execute_Firmware, PFN_VARNIX_Sector)                                                         \
    X(Get_Sector_Description, PFN_VARNIX_Get_Sector_Description)                                   \
    X(FirmwareUpgradeMode, PFN_VARNIX_SetNumber)                                                   \
    X(Get_Mode, PFN_VARNIX_Get_Mode)                                                               \
    X(OpenCard, PFN_VARNIX_Handle)                                                                 \
    X(Get_Sector_Checksum, PFN_VARNIX_GetSectorNumber)                                             \
    X(Set_Sector_Checksum, PFN_VARNIX_SetSectorNumber)                                             \
    X(Get_Sector_Size, PFN_VARNIX_GetSectorNumber)                                                 \
    X(Get_Device_Type, PFN_VARNIX_GetNumber)                                                       \
    X(Get_Product_Code, PFN_VARNIX_GetNumber)                                                      \
    X(Get_Vendor_Id, PFN_VARNIX_GetNumber)                                                         \
    X(Get_Product_Name, PFN_VARNIX_Get_Product_Name)                                               \
    X(HardwareConfigurationWindow, PFN_VARNIX_HardwareConfigurationWindow)                         \
    X(Checksum_Ok, PFN_VARNIX_GetSectorNumber)                                                     \
    X(Reset, PFN_VARNIX_Handle)                                                                    \
    X(SaveConfiguration, PFN_VARNIX_Configuration)                                                 \
    X(ReadConfiguration, PFN_VARNIX_Configuration)                                                 \
    X(Set_Serial_Number, PFN_VARNIX_SetNumber)

#ifdef __cplusplus
}
#endif
