#pragma once

/*
 * The exports of the DeviceNet driver library QVX_DNET.dll (libQVX_DNET.so) as the program
 * calls them: one function-pointer type per export the program calls, and the list of every
 * name it looks up. Plain C, and shared: the driver library builds against it too, and each of
 * its definitions is checked against these types when it compiles, so that a signature
 * that differs does not build.
 *
 * Every export has C linkage and a 32-bit int result, nonzero for success. handle is the
 * value OpenInterface wrote; mac is a node's MAC ID (0..63); cls, inst and attr name an
 * attribute of an object of that node. An out-value is written only when the call succeeds.
 */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The interface configuration record, 300 bytes; its first 32-bit word is the interface
 * type code. The rest belongs to the driver. */
#define QVX_DNET_CONFIG_SIZE 300

/* The interface's own settings on the network, 52 bytes. */
typedef struct QVX_DNET_NetworkSettings {
    uint32_t MacId;    /* the interface's own MAC ID; the low byte is sent */
    uint32_t BaudRate; /* bit/s */
    uint8_t DriverOwn[44];
} QVX_DNET_NetworkSettings;

/* The four values that go with a node put into the scanlist; what they mean is the
 * driver's. */
typedef struct ScanlistEntryParams {
    uint16_t Values[4];
} ScanlistEntryParams;

/* The room the program gives GetInterfaceName's text, terminating zero included. */
#define QVX_DNET_INTERFACE_NAME_SIZE 256

/* The most the program offers one GetAttribute or one ExplicitService response. */
#define QVX_DNET_ATTRIBUTE_CAPACITY 256

/* The calling thread's last-error value after a request to a node failed because the node did
 * not answer it (as opposed to answering with an error response). */
#define QVX_DNET_ERROR_NO_ANSWER 0x20440001u

typedef int32_t (*PFN_DNET_UnloadDriver)(void);
/* Opens the interface that config (QVX_DNET_CONFIG_SIZE bytes, not changed) describes and
 * writes its handle. */
typedef int32_t (*PFN_DNET_OpenInterface)(uint32_t* handle, void* config);
typedef int32_t (*PFN_DNET_CloseCard)(uint32_t handle);
/* Reads an attribute into data. *length: in, the room at data; out, the number of bytes
 * written there. */
typedef int32_t (*PFN_DNET_GetAttribute)(uint32_t handle, uint8_t mac, uint16_t cls, uint16_t inst,
                                         uint16_t attr, uint16_t* length, uint8_t* data);
typedef int32_t (*PFN_DNET_GetAttribute_USINT)(uint32_t handle, uint8_t mac, uint16_t cls,
                                               uint16_t inst, uint16_t attr, uint8_t* value);
typedef int32_t (*PFN_DNET_GetAttribute_UINT)(uint32_t handle, uint8_t mac, uint16_t cls,
                                              uint16_t inst, uint16_t attr, uint16_t* value);
typedef int32_t (*PFN_DNET_GetAttribute_UDINT)(uint32_t handle, uint8_t mac, uint16_t cls,
                                               uint16_t inst, uint16_t attr, uint32_t* value);
/* Writes length bytes from data to the attribute. */
typedef int32_t (*PFN_DNET_SetAttribute)(uint32_t handle, uint8_t mac, uint16_t cls, uint16_t inst,
                                         uint16_t attr, uint16_t length, const uint8_t* data);
typedef int32_t (*PFN_DNET_SetAttribute_USINT)(uint32_t handle, uint8_t mac, uint16_t cls,
                                               uint16_t inst, uint16_t attr, uint8_t value);
typedef int32_t (*PFN_DNET_SetAttribute_UDINT)(uint32_t handle, uint8_t mac, uint16_t cls,
                                               uint16_t inst, uint16_t attr, uint32_t value);
/* Sends service to the object instance with requestLength bytes from request. The response
 * goes to response; *responseLength: in, the room there; out, the number of bytes written. */
typedef int32_t (*PFN_DNET_ExplicitService)(uint32_t handle, uint8_t mac, uint8_t service,
                                            uint16_t cls, uint16_t inst, uint16_t requestLength,
                                            const uint8_t* request, uint16_t* responseLength,
                                            uint8_t* response);
typedef int32_t (*PFN_DNET_SetBaud)(uint32_t handle, uint32_t baud);
typedef int32_t (*PFN_DNET_SetMacID)(uint32_t handle, uint8_t mac);
/* on: 1 = take part in the network, 0 = leave it. */
typedef int32_t (*PFN_DNET_SetOnline)(uint32_t handle, uint32_t on);
/* *present nonzero = the node is on the network. */
typedef int32_t (*PFN_DNET_NodeOnline)(uint32_t handle, uint8_t mac, uint32_t* present);
/* params points to a ScanlistEntryParams; flags are the connection flags (bit 0: explicit
 * connection). */
typedef int32_t (*PFN_DNET_AddToScanlist)(uint32_t handle, uint8_t mac, uint8_t flags,
                                          void* params);
typedef int32_t (*PFN_DNET_RemoveFromScanlist)(uint32_t handle, uint8_t mac, uint8_t flags);
typedef int32_t (*PFN_DNET_StartScan)(uint32_t handle);
/* The program does not look at the result. */
typedef int32_t (*PFN_DNET_StopScan)(uint32_t handle);
/* In the configuration operations config is the configuration record (QVX_DNET_CONFIG_SIZE
 * bytes) and settings a QVX_DNET_NetworkSettings.
 * The network configuration window: both records may be changed. Nonzero = accepted. */
typedef int32_t (*PFN_DNET_DeviceNetConfigurationWindow)(void* config, void* settings);
/* value comes from the program's caller, unchanged. */
typedef int32_t (*PFN_DNET_HardwareConfigurationWindow)(uint32_t value);
/* Fills both records from what is stored under keyPath. */
typedef int32_t (*PFN_DNET_ReadConfiguration)(const char* keyPath, void* config, void* settings);
/* Stores both records under keyPath; the program does not expect them changed. */
typedef int32_t (*PFN_DNET_SaveConfiguration)(const char* keyPath, void* config, void* settings);
/* The name of the kind of interface that interfaceType (the record's first word) selects,
 * zero-terminated, at most QVX_DNET_INTERFACE_NAME_SIZE bytes. */
typedef int32_t (*PFN_DNET_GetInterfaceName)(uint32_t interfaceType, char* text);
typedef int32_t (*PFN_DNET_VersionInformationWindow)(uint32_t handle);
/* An export the program looks up but never calls. */
typedef int32_t (*PFN_DNET_LookedUpOnly)(void);

/*
 * Every look-up the program makes, in its order, each with the type of its pointer:
 * X(name, type) for a name's first look-up and AGAIN(name, type) for a name looked up once
 * more into the same entry point (CloseCard).
 */
#define QVX_DNET_EXPORTS(X, AGAIN)                                                                 \
    X(UnloadDriver, PFN_DNET_UnloadDriver)                                                         \
    X(LoadDriver, PFN_DNET_LookedUpOnly)                                                           \
    X(OpenCard, PFN_DNET_LookedUpOnly)                                                             \
    X(OpenInterface, PFN_DNET_OpenInterface)                                                       \
    X(CloseCard, PFN_DNET_CloseCard)                                                               \
    X(CloseInterface, PFN_DNET_LookedUpOnly)                                                       \
    X(Hardware_Version, PFN_DNET_LookedUpOnly)                                                     \
    X(Firmware_Version, PFN_DNET_LookedUpOnly)                                                     \
    X(DLL_Version, PFN_DNET_LookedUpOnly)                                                          \
    X(DLL_Name, PFN_DNET_LookedUpOnly)                                                             \
    X(GetAttribute, PFN_DNET_GetAttribute)                                                         \
    X(GetAttribute_USINT, PFN_DNET_GetAttribute_USINT)                                             \
    X(GetAttribute_SINT, PFN_DNET_LookedUpOnly)                                                    \
    X(GetAttribute_UINT, PFN_DNET_GetAttribute_UINT)                                               \
    X(GetAttribute_INT, PFN_DNET_LookedUpOnly)                                                     \
    X(GetAttribute_UDINT, PFN_DNET_GetAttribute_UDINT)                                             \
    X(GetAttribute_DINT, PFN_DNET_LookedUpOnly)                                                    \
    X(GetAttribute_REAL, PFN_DNET_LookedUpOnly)                                                    \
    X(GetAttribute_DOUBLE, PFN_DNET_LookedUpOnly)                                                  \
    X(SetAttribute, PFN_DNET_SetAttribute)                                                         \
    X(SetAttribute_USINT, PFN_DNET_SetAttribute_USINT)                                             \
    X(SetAttribute_SINT, PFN_DNET_LookedUpOnly)                                                    \
    X(SetAttribute_UINT, PFN_DNET_LookedUpOnly)                                                    \
    X(SetAttribute_INT, PFN_DNET_LookedUpOnly)                                                     \
    X(SetAttribute_UDINT, PFN_DNET_SetAttribute_UDINT)                                             \
    X(SetAttribute_DINT, PFN_DNET_LookedUpOnly)                                                    \
    X(SetAttribute_REAL, PFN_DNET_LookedUpOnly)                                                    \
    X(SetAttribute_DOUBLE, PFN_DNET_LookedUpOnly)                                                  \
    X(ExplicitService, PFN_DNET_ExplicitService)                                                   \
    X(SetBaud, PFN_DNET_SetBaud)                                                                   \
    X(GetBaud, PFN_DNET_LookedUpOnly)                                                              \
    X(SetOnline, PFN_DNET_SetOnline)                                                               \
    X(GetOnline, PFN_DNET_LookedUpOnly)                                                            \
    X(SetMacID, PFN_DNET_SetMacID)                                                                 \
    X(GetMacID, PFN_DNET_LookedUpOnly)                                                             \
    AGAIN(CloseCard, PFN_DNET_CloseCard)                                                           \
    X(NodeOnline, PFN_DNET_NodeOnline)                                                             \
    X(ReleaseAll, PFN_DNET_LookedUpOnly)                                                           \
    X(Allocate, PFN_DNET_LookedUpOnly)                                                             \
    X(Allocate_UCMM, PFN_DNET_LookedUpOnly)                                                        \
    X(Release, PFN_DNET_LookedUpOnly)                                                              \
    X(SetExplicitActive, PFN_DNET_LookedUpOnly)                                                    \
    X(SetPollActive, PFN_DNET_LookedUpOnly)                                                        \
    X(SetStrobeActive, PFN_DNET_LookedUpOnly)                                                      \
    X(SetCOSCyclicActive, PFN_DNET_LookedUpOnly)                                                   \
    X(GetPollActive, PFN_DNET_LookedUpOnly)                                                        \
    X(GetStrobeActive, PFN_DNET_LookedUpOnly)                                                      \
    X(GetCOSCyclicActive, PFN_DNET_LookedUpOnly)                                                   \
    X(AddToScanlist, PFN_DNET_AddToScanlist)                                                       \
    X(RemoveFromScanlist, PFN_DNET_RemoveFromScanlist)                                             \
    X(SetPollInterval, PFN_DNET_LookedUpOnly)                                                      \
    X(SetStrobeInterval, PFN_DNET_LookedUpOnly)                                                    \
    X(GetPollInterval, PFN_DNET_LookedUpOnly)                                                      \
    X(GetStrobeInterval, PFN_DNET_LookedUpOnly)                                                    \
    X(SetIOConsumeData, PFN_DNET_LookedUpOnly)                                                     \
    X(GetIOConsumeData, PFN_DNET_LookedUpOnly)                                                     \
    X(GetIOProduceData, PFN_DNET_LookedUpOnly)                                                     \
    X(CalculateResponseMaxMinAvg, PFN_DNET_LookedUpOnly)                                           \
    X(ResetConnectionCounters, PFN_DNET_LookedUpOnly)                                              \
    X(Reset_NodeConnectionTimers, PFN_DNET_LookedUpOnly)                                           \
    X(GetConnectionSize, PFN_DNET_LookedUpOnly)                                                    \
    X(StartScan, PFN_DNET_StartScan)                                                               \
    X(StopScan, PFN_DNET_StopScan)                                                                 \
    X(Allocate_MS_Connection_Set, PFN_DNET_LookedUpOnly)                                           \
    X(Release_MS_Connection_Set, PFN_DNET_LookedUpOnly)                                            \
    X(DeviceNetConfigurationWindow, PFN_DNET_DeviceNetConfigurationWindow)                         \
    X(ReadConfiguration, PFN_DNET_ReadConfiguration)                                               \
    X(SaveConfiguration, PFN_DNET_SaveConfiguration)                                               \
    X(HardwareConfigurationWindow, PFN_DNET_HardwareConfigurationWindow)                           \
    X(GetInterfaceName, PFN_DNET_GetInterfaceName)                                                 \
    X(VersionInformationWindow, PFN_DNET_VersionInformationWindow)                                 \
    X(UCMM_CloseConnection, PFN_DNET_LookedUpOnly)

#ifdef __cplusplus
}
#endif
