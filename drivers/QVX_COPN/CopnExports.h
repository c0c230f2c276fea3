#pragma once

#include "Qvx_copn_exports.h"

// The exports of libQVX_COPN.so, the CANopen master driver library, as programs look them up
// by name. Every export returns nonzero for success and 0 for failure; out-parameters are
// written only on success. h is the handle OpenInterface hands out; an export given a handle
// that is not open, a null pointer, a node-ID outside 1 to 127 (0 as well, except for the
// NMT commands, where 0 addresses every node) fails without effect. Every export may be
// called from several threads at once.
//
// Node-IDs, sub-indexes and single bytes are uint8_t, indexes and 16-bit values uint16_t,
// everything else uint32_t, passed by value; texts are char buffers of at least 256 bytes.

#include "SharedExports.h"

#include <cstdint>

#define COPN_EXPORT DRIVERCORE_EXPORT

// Besides the exports every CAN driver library has (SharedExports.h): DLL_Version is 2.4,
// SetBaud takes 10000 to 1000000 bit/s, and ReadConfiguration's defaults are node-ID 127
// and 500 kbit/s; a null key path there stands for the one SetRegistryPath gave.

// --- The library --------------------------------------------------------------------------

// The text of one of the driver's last-error codes (0x20000000 "interface not in correct
// mode", 0x20000001 "interface cannot be opened") or of an SDO abort code; 0 for others.
COPN_EXPORT std::int32_t GetErrorString(std::uint32_t code, char* text);

// --- The interface ------------------------------------------------------------------------

// The master's own node-ID, 1 to 127. GetNodeID fails until SetNodeID succeeded.
COPN_EXPORT std::int32_t SetNodeID(std::uint32_t h, std::uint8_t nodeId);
COPN_EXPORT std::int32_t GetNodeID(std::uint32_t h, std::uint8_t* nodeId);

// --- Nodes --------------------------------------------------------------------------------

// The nodes whose online state the master keeps.
COPN_EXPORT std::int32_t AddNode(std::uint32_t h, std::uint8_t node);
COPN_EXPORT std::int32_t RemoveNode(std::uint32_t h, std::uint8_t node);
// A node added is online from its boot-up message, a guarding reply or any other frame it
// sends, and offline when guarding misses its life time; the master guards every node it
// has seen (until NMT_StartGuarding, with 800 ms and factor 2), so a node that leaves the
// bus is offline within 3 s. Fails for a node not added.
COPN_EXPORT std::int32_t GetNodeOnline(std::uint32_t h, std::uint8_t node, std::uint32_t* online);
// The same answer as the result: 1 online, 0 offline or not added.
COPN_EXPORT std::int32_t NodeOnline(std::uint32_t h, std::uint8_t node);
// Whether a boot-up message came from the node since the flag was last cleared.
COPN_EXPORT std::int32_t GetNodeBootUpDetected(std::uint32_t h, std::uint8_t node,
                                               std::uint32_t* detected);
COPN_EXPORT std::int32_t ClearNodeBootUpDetected(std::uint32_t h, std::uint8_t node);
// The NMT state of the node's last guarding reply (0x04 stopped, 0x05 operational, 0x7F
// pre-operational; pre-operational after its boot-up). Fails while none is known.
COPN_EXPORT std::int32_t GetNodeState(std::uint32_t h, std::uint8_t node, std::uint8_t* state);

// --- NMT and node guarding ----------------------------------------------------------------

// NMT commands to one node, or to every node with node 0.
COPN_EXPORT std::int32_t NMT_StartRemoteNode(std::uint32_t h, std::uint8_t node);
COPN_EXPORT std::int32_t NMT_StopRemoteNode(std::uint32_t h, std::uint8_t node);
COPN_EXPORT std::int32_t NMT_EnterPreOperational(std::uint32_t h, std::uint8_t node);
COPN_EXPORT std::int32_t NMT_ResetNode(std::uint32_t h, std::uint8_t node);
COPN_EXPORT std::int32_t NMT_ResetCommunication(std::uint32_t h, std::uint8_t node);
// One guard request to the node now; its reply shows in GetNodeOnline and GetNodeState.
COPN_EXPORT std::int32_t NMT_NodeGuard(std::uint32_t h, std::uint8_t node);
// Writes the guard time to the node's 0x100C:00 (UNSIGNED16) and the life-time factor to
// its 0x100D:00 (UNSIGNED8), then guards the node with remote requests at that period
// (faster when guard time × (factor + 1) exceeds 2.4 s). Nonzero when the node took both;
// the master guards it in any case. The node must have been added.
COPN_EXPORT std::int32_t NMT_StartGuarding(std::uint32_t h, std::uint8_t node,
                                           std::uint8_t lifeTimeFactor, std::uint16_t guardTimeMs);
// The master guards the node with its own values again.
COPN_EXPORT std::int32_t NMT_StopGuarding(std::uint32_t h, std::uint8_t node);

// --- SDO ----------------------------------------------------------------------------------

// The time each SDO transfer that starts from now on waits for each answer of the node,
// 1 to 65535 ms; 500 ms until set. Any abort or time-out makes a transfer fail.
COPN_EXPORT std::int32_t SetSDOTimeout(std::uint32_t h, std::uint16_t timeoutMs);

// Downloads (writes) of typed values, little-endian, expedited.
COPN_EXPORT std::int32_t SDO_Download_UNSIGNED8(std::uint32_t h, std::uint8_t node,
                                                std::uint16_t index, std::uint8_t sub,
                                                std::uint8_t value);
COPN_EXPORT std::int32_t SDO_Download_UNSIGNED16(std::uint32_t h, std::uint8_t node,
                                                 std::uint16_t index, std::uint8_t sub,
                                                 std::uint16_t value);
COPN_EXPORT std::int32_t SDO_Download_UNSIGNED32(std::uint32_t h, std::uint8_t node,
                                                 std::uint16_t index, std::uint8_t sub,
                                                 std::uint32_t value);
COPN_EXPORT std::int32_t SDO_Download_INTEGER8(std::uint32_t h, std::uint8_t node,
                                               std::uint16_t index, std::uint8_t sub,
                                               std::int8_t value);
COPN_EXPORT std::int32_t SDO_Download_INTEGER16(std::uint32_t h, std::uint8_t node,
                                                std::uint16_t index, std::uint8_t sub,
                                                std::int16_t value);
COPN_EXPORT std::int32_t SDO_Download_INTEGER32(std::uint32_t h, std::uint8_t node,
                                                std::uint16_t index, std::uint8_t sub,
                                                std::int32_t value);
// A download of 1 or more bytes: expedited up to 4, segmented beyond.
COPN_EXPORT std::int32_t SDO_Download(std::uint32_t h, std::uint8_t node, std::uint16_t index,
                                      std::uint8_t sub, std::uint32_t length,
                                      const std::uint8_t* data);

// Uploads (reads) of typed values: the node must send exactly the type's size.
COPN_EXPORT std::int32_t SDO_Upload_UNSIGNED8(std::uint32_t h, std::uint8_t node,
                                              std::uint16_t index, std::uint8_t sub,
                                              std::uint8_t* value);
COPN_EXPORT std::int32_t SDO_Upload_UNSIGNED16(std::uint32_t h, std::uint8_t node,
                                               std::uint16_t index, std::uint8_t sub,
                                               std::uint16_t* value);
COPN_EXPORT std::int32_t SDO_Upload_UNSIGNED32(std::uint32_t h, std::uint8_t node,
                                               std::uint16_t index, std::uint8_t sub,
                                               std::uint32_t* value);
COPN_EXPORT std::int32_t SDO_Upload_INTEGER8(std::uint32_t h, std::uint8_t node,
                                             std::uint16_t index, std::uint8_t sub,
                                             std::int8_t* value);
COPN_EXPORT std::int32_t SDO_Upload_INTEGER16(std::uint32_t h, std::uint8_t node,
                                              std::uint16_t index, std::uint8_t sub,
                                              std::int16_t* value);
COPN_EXPORT std::int32_t SDO_Upload_INTEGER32(std::uint32_t h, std::uint8_t node,
                                              std::uint16_t index, std::uint8_t sub,
                                              std::int32_t* value);
COPN_EXPORT std::int32_t SDO_Upload_REAL32(std::uint32_t h, std::uint8_t node, std::uint16_t index,
                                           std::uint8_t sub, float* value);
// An upload of any length. *length in: the capacity of data; out: the bytes delivered. A
// longer value is read to its end and cut to the capacity.
COPN_EXPORT std::int32_t SDO_Upload(std::uint32_t h, std::uint8_t node, std::uint16_t index,
                                    std::uint8_t sub, std::uint32_t* length, std::uint8_t* data);

// SDO block transfer for the standard program download, segmented where the node has none;
// see the contract (Qvx_copn_exports.h) for flags, progress and went.
COPN_EXPORT std::int32_t SDO_Block_Transfer(std::uint32_t h, std::uint8_t node, std::uint16_t index,
                                            std::uint8_t sub, std::uint32_t flags,
                                            std::uint32_t* length, std::uint8_t* data,
                                            QVX_COPN_TransferProgress progress, void* context,
                                            std::uint32_t* went);

// The program's block transfer names of old are not offered: these fail.
COPN_EXPORT std::int32_t SDO_Block_Download(std::uint32_t h, std::uint8_t node, std::uint16_t index,
                                            std::uint8_t sub, std::uint32_t length,
                                            const std::uint8_t* data);
COPN_EXPORT std::int32_t SDO_Block_Upload(std::uint32_t h, std::uint8_t node, std::uint16_t index,
                                          std::uint8_t sub, std::uint32_t* length,
                                          std::uint8_t* data);

// --- PDO, SYNC, TIME, emergency: not offered; these fail ----------------------------------

COPN_EXPORT std::int32_t CheckEmergency(std::uint32_t h, std::uint8_t node, std::uint8_t* data);
COPN_EXPORT std::int32_t Sync(std::uint32_t h);
COPN_EXPORT std::int32_t TimeStamp(std::uint32_t h);
COPN_EXPORT std::int32_t SetPDOTimeout(std::uint32_t h, std::uint16_t timeoutMs);
COPN_EXPORT std::int32_t AddPDO(std::uint32_t h, std::uint16_t cobId, std::uint8_t length,
                                std::uint32_t transmit);
COPN_EXPORT std::int32_t PDO_Write(std::uint32_t h, std::uint16_t cobId, std::uint8_t length,
                                   const std::uint8_t* data);
COPN_EXPORT std::int32_t PDO_Read(std::uint32_t h, std::uint16_t cobId, std::uint8_t* length,
                                  std::uint8_t* data);
COPN_EXPORT std::int32_t COP_PDO_Write_Data(std::uint32_t h, std::uint16_t cobId,
                                            std::uint8_t length, const std::uint8_t* data);
COPN_EXPORT std::int32_t COP_PDO_Read_Data(std::uint32_t h, std::uint16_t cobId,
                                           std::uint8_t* length, std::uint8_t* data);
COPN_EXPORT std::int32_t COP_PDO_Read_Data_wTime(std::uint32_t h, std::uint16_t cobId,
                                                 std::uint8_t* length, std::uint8_t* data,
                                                 std::uint32_t* timeMs);
COPN_EXPORT std::int32_t PDO_Read_Receive_Count(std::uint32_t h, std::uint16_t cobId,
                                                std::uint32_t* count);
COPN_EXPORT std::int32_t COP_PDO_Get_Event(std::uint32_t h, std::uint16_t cobId,
                                           std::uint32_t* event);

// --- Configuration (no handle) ------------------------------------------------------------

COPN_EXPORT std::int32_t SetRegistryPath(const char* keyPath);
// The configuration window: nonzero when the user accepted; both records are written then,
// and only then. DisplayConfigurationWindow is the same.
COPN_EXPORT std::int32_t CANopenConfigurationWindow(void* config, void* networkSettings);
COPN_EXPORT std::int32_t DisplayConfigurationWindow(void* config, void* networkSettings);
// No window of its own: fails (DLL_Version and DLL_Name give the version).
COPN_EXPORT std::int32_t VersionInformationWindow(void);
