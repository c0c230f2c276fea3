#pragma once

/*
 * The exports of the CANopen driver library QVX_COPN.dll (libQVX_COPN.so) as the program
 * calls them: one function-pointer type per export the program calls, and the list of every
 * name it looks up. Plain C, and shared: the driver library builds against it too, and each of
 * its definitions is checked against these types when it compiles, so that a signature
 * that differs does not build.
 *
 * Every export has C linkage and a 32-bit int result, nonzero for success. handle is the
 * value OpenInterface wrote; node is a CANopen node-ID (0 addresses every node where the
 * NMT service allows it); index and subIndex name an object-dictionary entry. An out-value
 * is written only when the call succeeds.
 */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The interface configuration record, 300 bytes; its first 32-bit word selects the kind of
 * interface. The rest belongs to the driver. */
#define QVX_COPN_CONFIG_SIZE 300

/* The interface's own settings on the network, 52 bytes. */
typedef struct QVX_COPN_NetworkSettings {
    uint32_t NodeId;     /* the interface's own node-ID; the low byte is used */
    uint32_t BitRate;    /* bit/s */
    uint16_t SdoTimeout; /* ms the program waits for an SDO answer; 0: its default */
    uint8_t DriverOwn[42];
} QVX_COPN_NetworkSettings;

/* The room the program gives GetInterfaceName's text, terminating zero included. */
#define QVX_COPN_INTERFACE_NAME_SIZE 256

/* The room the program gives an SDO_Upload. */
#define QVX_COPN_UPLOAD_CAPACITY 256

typedef int32_t (*PFN_COPN_UnloadDriver)(void);
typedef int32_t (*PFN_COPN_CloseCard)(uint32_t handle);
/* online: 1 = take part in the network, 0 = leave it. */
typedef int32_t (*PFN_COPN_SetOnline)(uint32_t handle, uint32_t online);
typedef int32_t (*PFN_COPN_SetBaud)(uint32_t handle, uint32_t bitRate);
typedef int32_t (*PFN_COPN_SetNodeID)(uint32_t handle, uint8_t nodeId);
typedef int32_t (*PFN_COPN_SDO_Download_UNSIGNED8)(uint32_t handle, uint8_t node, uint16_t index,
                                                   uint8_t subIndex, uint8_t value);
typedef int32_t (*PFN_COPN_SDO_Download_UNSIGNED32)(uint32_t handle, uint8_t node, uint16_t index,
                                                    uint8_t subIndex, uint32_t value);
/* Writes length bytes from data to the entry. */
typedef int32_t (*PFN_COPN_SDO_Download)(uint32_t handle, uint8_t node, uint16_t index,
                                         uint8_t subIndex, uint32_t length, const uint8_t* data);
typedef int32_t (*PFN_COPN_SDO_Upload_UNSIGNED8)(uint32_t handle, uint8_t node, uint16_t index,
                                                 uint8_t subIndex, uint8_t* value);
typedef int32_t (*PFN_COPN_SDO_Upload_UNSIGNED32)(uint32_t handle, uint8_t node, uint16_t index,
                                                  uint8_t subIndex, uint32_t* value);
/* Reads the entry into data. *length: in, the room at data; out, the number of bytes
 * written there. */
typedef int32_t (*PFN_COPN_SDO_Upload)(uint32_t handle, uint8_t node, uint16_t index,
                                       uint8_t subIndex, uint32_t* length, uint8_t* data);
typedef int32_t (*PFN_COPN_NMT_ResetNode)(uint32_t handle, uint8_t node);
typedef int32_t (*PFN_COPN_NMT_ResetCommunication)(uint32_t handle, uint8_t node);
typedef int32_t (*PFN_COPN_NMT_StartGuarding)(uint32_t handle, uint8_t node, uint8_t lifeTimeFactor,
                                              uint16_t guardTimeMs);
/* *online nonzero = the node is on the network. */
typedef int32_t (*PFN_COPN_GetNodeOnline)(uint32_t handle, uint8_t node, uint32_t* online);
/* The time-out of every later SDO transfer. */
typedef int32_t (*PFN_COPN_SetSDOTimeout)(uint32_t handle, uint16_t timeoutMs);
typedef int32_t (*PFN_COPN_AddNode)(uint32_t handle, uint8_t node);
/* Opens the interface described by config (QVX_COPN_CONFIG_SIZE bytes, not changed) and
 * writes its handle. On failure the driver leaves 0x20000000 in the program's last-error
 * value (the program's ZandrelSetLastError) when the interface is not in the mode the program
 * needs. */
typedef int32_t (*PFN_COPN_OpenInterface)(uint32_t* handle, void* config);
/* value comes from the program's caller, unchanged. */
typedef int32_t (*PFN_COPN_HardwareConfigurationWindow)(uint32_t value);
/* In the configuration operations config is the configuration record (QVX_COPN_CONFIG_SIZE
 * bytes) and networkSettings a QVX_COPN_NetworkSettings.
 * The network configuration window: both records may be changed. Nonzero = accepted. */
typedef int32_t (*PFN_COPN_CANopenConfigurationWindow)(void* config, void* networkSettings);
/* Stores both records under keyPath; the program does not expect them changed. */
typedef int32_t (*PFN_COPN_SaveConfiguration)(const char* keyPath, void* config,
                                              void* networkSettings);
/* Fills both records from what is stored under keyPath. */
typedef int32_t (*PFN_COPN_ReadConfiguration)(const char* keyPath, void* config,
                                              void* networkSettings);
/* The name of the kind of interface that interfaceType (the record's first word) selects,
 * zero-terminated, at most QVX_COPN_INTERFACE_NAME_SIZE bytes. */
typedef int32_t (*PFN_COPN_GetInterfaceName)(uint32_t interfaceType, char* text);
/* The meaning of an error code the driver left (an SDO abort code among them), zero-terminated,
 * at most 256 bytes with its zero; 0 for a code the driver does not know. */
typedef int32_t (*PFN_COPN_GetErrorString)(uint32_t code, char* text);
/* An export the program looks up but never calls. */
typedef int32_t (*PFN_COPN_LookedUpOnly)(void);

/*
 * Every name the program looks up, in the order it looks them up, each with the type of
 * its pointer: X(name, type).
 */
#define QVX_COPN_EXPORTS(X)                                                                        \
    X(UnloadDriver, PFN_COPN_UnloadDriver)                                                         \
    X(LoadDriver, PFN_COPN_LookedUpOnly)                                                           \
    X(OpenCard, PFN_COPN_LookedUpOnly)                                                             \
    X(CloseCard, PFN_COPN_CloseCard)                                                               \
    X(CloseInterface, PFN_COPN_LookedUpOnly)                                                       \
    X(Hardware_Version, PFN_COPN_LookedUpOnly)                                                     \
    X(Firmware_Version, PFN_COPN_LookedUpOnly)                                                     \
    X(DLL_Version, PFN_COPN_LookedUpOnly)                                                          \
    X(DLL_Name, PFN_COPN_LookedUpOnly)                                                             \
    X(GetErrorString, PFN_COPN_GetErrorString)                                                     \
    X(GetOnline, PFN_COPN_LookedUpOnly)                                                            \
    X(GetBaud, PFN_COPN_LookedUpOnly)                                                              \
    X(SetOnline, PFN_COPN_SetOnline)                                                               \
    X(SetBaud, PFN_COPN_SetBaud)                                                                   \
    X(DisplayConfigurationWindow, PFN_COPN_LookedUpOnly)                                           \
    X(SetRegistryPath, PFN_COPN_LookedUpOnly)                                                      \
    X(SetNodeID, PFN_COPN_SetNodeID)                                                               \
    X(GetNodeID, PFN_COPN_LookedUpOnly)                                                            \
    X(NodeOnline, PFN_COPN_LookedUpOnly)                                                           \
    X(SDO_Download_UNSIGNED8, PFN_COPN_SDO_Download_UNSIGNED8)                                     \
    X(SDO_Download_UNSIGNED16, PFN_COPN_LookedUpOnly)                                              \
    X(SDO_Download_UNSIGNED32, PFN_COPN_SDO_Download_UNSIGNED32)                                   \
    X(SDO_Download, PFN_COPN_SDO_Download)                                                         \
    X(SDO_Block_Download, PFN_COPN_LookedUpOnly)                                                   \
    X(SDO_Upload_UNSIGNED8, PFN_COPN_SDO_Upload_UNSIGNED8)                                         \
    X(SDO_Upload_UNSIGNED16, PFN_COPN_LookedUpOnly)                                                \
    X(SDO_Upload_UNSIGNED32, PFN_COPN_SDO_Upload_UNSIGNED32)                                       \
    X(SDO_Upload_REAL32, PFN_COPN_LookedUpOnly)                                                    \
    X(SDO_Upload, PFN_COPN_SDO_Upload)                                                             \
    X(SDO_Block_Upload, PFN_COPN_LookedUpOnly)                                                     \
    X(NMT_StartRemoteNode, PFN_COPN_LookedUpOnly)                                                  \
    X(NMT_StopRemoteNode, PFN_COPN_LookedUpOnly)                                                   \
    X(NMT_EnterPreOperational, PFN_COPN_LookedUpOnly)                                              \
    X(NMT_ResetNode, PFN_COPN_NMT_ResetNode)                                                       \
    X(NMT_ResetCommunication, PFN_COPN_NMT_ResetCommunication)                                     \
    X(NMT_NodeGuard, PFN_COPN_LookedUpOnly)                                                        \
    X(CheckEmergency, PFN_COPN_LookedUpOnly)                                                       \
    X(Sync, PFN_COPN_LookedUpOnly)                                                                 \
    X(TimeStamp, PFN_COPN_LookedUpOnly)                                                            \
    X(PDO_Write, PFN_COPN_LookedUpOnly)                                                            \
    X(PDO_Read, PFN_COPN_LookedUpOnly)                                                             \
    X(SDO_Upload_INTEGER8, PFN_COPN_LookedUpOnly)                                                  \
    X(SDO_Upload_INTEGER16, PFN_COPN_LookedUpOnly)                                                 \
    X(SDO_Upload_INTEGER32, PFN_COPN_LookedUpOnly)                                                 \
    X(SDO_Download_INTEGER8, PFN_COPN_LookedUpOnly)                                                \
    X(SDO_Download_INTEGER16, PFN_COPN_LookedUpOnly)                                               \
    X(SDO_Download_INTEGER32, PFN_COPN_LookedUpOnly)                                               \
    X(NMT_StartGuarding, PFN_COPN_NMT_StartGuarding)                                               \
    X(NMT_StopGuarding, PFN_COPN_LookedUpOnly)                                                     \
    X(GetNodeBootUpDetected, PFN_COPN_LookedUpOnly)                                                \
    X(ClearNodeBootUpDetected, PFN_COPN_LookedUpOnly)                                              \
    X(GetNodeState, PFN_COPN_LookedUpOnly)                                                         \
    X(GetNodeOnline, PFN_COPN_GetNodeOnline)                                                       \
    X(SetSDOTimeout, PFN_COPN_SetSDOTimeout)                                                       \
    X(SetPDOTimeout, PFN_COPN_LookedUpOnly)                                                        \
    X(AddNode, PFN_COPN_AddNode)                                                                   \
    X(RemoveNode, PFN_COPN_LookedUpOnly)                                                           \
    X(AddPDO, PFN_COPN_LookedUpOnly)                                                               \
    X(COP_PDO_Read_Data, PFN_COPN_LookedUpOnly)                                                    \
    X(COP_PDO_Read_Data_wTime, PFN_COPN_LookedUpOnly)                                              \
    X(COP_PDO_Write_Data, PFN_COPN_LookedUpOnly)                                                   \
    X(OpenInterface, PFN_COPN_OpenInterface)                                                       \
    X(HardwareConfigurationWindow, PFN_COPN_HardwareConfigurationWindow)                           \
    X(CANopenConfigurationWindow, PFN_COPN_CANopenConfigurationWindow)                             \
    X(SaveConfiguration, PFN_COPN_SaveConfiguration)                                               \
    X(ReadConfiguration, PFN_COPN_ReadConfiguration)                                               \
    X(GetInterfaceName, PFN_COPN_GetInterfaceName)                                                 \
    X(VersionInformationWindow, PFN_COPN_LookedUpOnly)                                             \
    X(PDO_Read_Receive_Count, PFN_COPN_LookedUpOnly)                                               \
    X(COP_PDO_Get_Event, PFN_COPN_LookedUpOnly)

/*
 * SDO block transfer (CiA 301), for entries too large to move segment by segment at speed,
 * such as a program's data (0x1F50). The program's standard program download looks it up
 * besides the names above; the exports above keep what they do.
 *
 * flags: QVX_COPN_BLOCK_UPLOAD reads the entry into data (*length in: the room at data; out:
 * the bytes read; an entry larger than the room fails with 0x05040005, data and *length
 * untouched); without it, *length bytes from data are written to the entry. A node that
 * refuses the block initiate (abort 0x05040001, whatever object the abort names) gets the
 * same transfer again, segmented (or expedited).
 * progress, when not null, is called on the calling thread as the transfer goes on, with the
 * bytes moved and acknowledged so far and the whole; when it returns 0 the transfer is
 * aborted (0x08000000 is sent to the node) and the call fails. *went, when not null, is set on
 * success: QVX_COPN_WENT_BLOCK or QVX_COPN_WENT_SEGMENTED. On failure the program's last-error
 * value holds the SDO abort code, as after the other SDO exports.
 */
#define QVX_COPN_BLOCK_UPLOAD 0x1u
#define QVX_COPN_WENT_SEGMENTED 0u
#define QVX_COPN_WENT_BLOCK 1u
typedef int32_t (*QVX_COPN_TransferProgress)(void* context, uint32_t done, uint32_t total);
typedef int32_t (*PFN_COPN_SDO_Block_Transfer)(uint32_t handle, uint8_t node, uint16_t index,
                                               uint8_t subIndex, uint32_t flags, uint32_t* length,
                                               uint8_t* data, QVX_COPN_TransferProgress progress,
                                               void* context, uint32_t* went);

/* The names the standard program download looks up, after those above: X(name, type). Each
 * X( begins a line of its own: the build reads the exported names from these lines. */
/* clang-format off */
#define QVX_COPN_PROGRAM_EXPORTS(X)                                                                \
    X(SDO_Block_Transfer, PFN_COPN_SDO_Block_Transfer)
/* clang-format on */

#ifdef __cplusplus
}
#endif
