#pragma once

// The exports of libQVX_COPN.so, the CANopen master driver library, as programs look them up
// by name. Every export returns nonzero for success and 0 for failure; out-parameters are
// written only on success. h is the handle OpenInterface hands out; an export given a handle
// that is not open, a null pointer, a node-ID outside 1 to 127 (0 as well, except for the
// NMT commands, where 0 addresses every node) fails without effect. Every export may be
// called from several threads at once.
//
// Node-IDs, sub-indexes and single bytes are uint8_t, indexes and 16-bit values uint16_t,
// everything else uint32_t, passed by value; texts are char buffers of at least 256 bytes.

#include <cstdint>

#define COPN_EXPORT extern "C" __attribute__((visibility("default")))

// --- The library --------------------------------------------------------------------------

// Closes every open interface.
COPN_EXPORT std::int32_t UnloadDriver(void);
// Nothing to do: the library is ready once loaded.
COPN_EXPORT std::int32_t LoadDriver(void);
// The library's version (2.4); h is not used.
COPN_EXPORT std::int32_t DLL_Version(std::uint32_t h, std::uint32_t* major, std::uint32_t* minor);
// "QVX_COPN"; h is not used.
COPN_EXPORT std::int32_t DLL_Name(std::uint32_t h, char* text);
// The text of one of the driver's last-error codes (0x20000000 "interface not in correct
// mode", 0x20000001 "interface cannot be opened") or of an SDO abort code; 0 for others.
COPN_EXPORT std::int32_t GetErrorString(std::uint32_t code, char* text);

// --- The interface ------------------------------------------------------------------------

// Opens the interface the 300-byte record names (its first word: 0 the simulated network,
// 1 SocketCAN, 2 Qt virtual CAN, with the interface name in the access-point text) and
// writes its handle. On failure the calling thread's last-error is 0x20000000 when the
// interface opened but cannot send (listen-only, bus-off), else 0x20000001; the reason goes
// to standard error. The simulated network serves one handle at a time: opening it again
// closes the handle before.
COPN_EXPORT std::int32_t OpenInterface(std::uint32_t* h, void* config);
// Nonzero when h is open.
COPN_EXPORT std::int32_t OpenCard(std::uint32_t h);
// Goes offline, stops the library's threads for h and closes the interface; h is not valid
// afterwards. CloseInterface is the same.
COPN_EXPORT std::int32_t CloseCard(std::uint32_t h);
COPN_EXPORT std::int32_t CloseInterface(std::uint32_t h);
// The interface's hardware and firmware versions (1.0 for every interface).
COPN_EXPORT std::int32_t Hardware_Version(std::uint32_t h, std::uint32_t* major,
                                          std::uint32_t* minor);
COPN_EXPORT std::int32_t Firmware_Version(std::uint32_t h, std::uint32_t* major,
                                          std::uint32_t* minor);

// The bus's bit rate in bit/s, 10000 to 1000000: the simulated wire's, or the device's (a
// Qt device is opened again with it). GetBaud fails until SetBaud succeeded.
COPN_EXPORT std::int32_t SetBaud(std::uint32_t h, std::uint32_t bitRate);
COPN_EXPORT std::int32_t GetBaud(std::uint32_t h, std::uint32_t* bitRate);
// The master's own node-ID, 1 to 127. GetNodeID fails until SetNodeID succeeded.
COPN_EXPORT std::int32_t SetNodeID(std::uint32_t h, std::uint8_t nodeId);
COPN_EXPORT std::int32_t GetNodeID(std::uint32_t h, std::uint8_t* nodeId);
// Online (1) the master takes part in the bus; offline (0) it sends nothing and every node
// counts as offline. Going online fails, with last-error 0x20000000, when the interface
// cannot send.
COPN_EXPORT std::int32_t SetOnline(std::uint32_t h, std::uint32_t online);
COPN_EXPORT std::int32_t GetOnline(std::uint32_t h, std::uint32_t* online);

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

// Block transfers are not offered: these fail.
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

// The interface record (300 bytes) and network settings (52 bytes: own node-ID, bit rate,
// 44 bytes unused) stored under the key path, a file below $XDG_CONFIG_HOME; what is not
// stored takes its default: the simulated network, node-ID 127, 500 kbit/s. A null key path
// stands for the one SetRegistryPath gave.
COPN_EXPORT std::int32_t ReadConfiguration(const char* keyPath, void* config,
                                           void* networkSettings);
COPN_EXPORT std::int32_t SaveConfiguration(const char* keyPath, void* config,
                                           void* networkSettings);
COPN_EXPORT std::int32_t SetRegistryPath(const char* keyPath);
// The configuration window: nonzero when the user accepted; both records are written then,
// and only then. DisplayConfigurationWindow is the same.
COPN_EXPORT std::int32_t CANopenConfigurationWindow(void* config, void* networkSettings);
COPN_EXPORT std::int32_t DisplayConfigurationWindow(void* config, void* networkSettings);
// The CAN interfaces have no hardware settings beyond the configuration window's: fails.
COPN_EXPORT std::int32_t HardwareConfigurationWindow(std::uint32_t value);
// No window of its own: fails (DLL_Version and DLL_Name give the version).
COPN_EXPORT std::int32_t VersionInformationWindow(void);
// The name of an interface type: "Simulated network", "SocketCAN", "Virtual CAN".
COPN_EXPORT std::int32_t GetInterfaceName(std::uint32_t interfaceType, char* text);
