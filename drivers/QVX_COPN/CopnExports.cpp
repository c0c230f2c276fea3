// The exports that work on an open interface: the interface itself, the nodes, NMT and node
// guarding, SDO. Each finds the handle's interface and hands the call to its master.

#include "CopnExports.h"

#include "CopnDriver.h"
#include "CopnErrors.h"
#include "LittleEndian.h"
#include "ProgramLastError.h"

#include <cstring>
#include <vector>

using bus::canopen::NmtCommand;
using bus::canopen::SdoStatus;
using copn::Library;
using drivercore::FromLittleEndian;
using drivercore::ToLittleEndian;
using std::int32_t;
using std::uint16_t;
using std::uint32_t;
using std::uint8_t;

namespace {

template <typename F> int32_t onMaster(uint32_t h, F&& f) {
    return Library().OnMaster<copn::Master>(h, std::forward<F>(f));
}

// Whether the transfer succeeded; when it failed, the calling thread's last-error value
// holds its SDO abort code (the server's, or the one this master sent: 0x05040000 for a
// time-out), so that a caller can tell an entry the node lacks from a node that is not there.
bool succeeded(const bus::canopen::SdoResult& result) {
    if (result.status == SdoStatus::Done)
        return true;
    SetProgramLastError(result.abortCode != 0 ? result.abortCode : bus::canopen::SdoAbort::General);
    return false;
}

// An upload's value for an entry of n bytes: the size the server stated, or, from an
// expedited answer that states none, its n lowest bytes.
bool fitsEntry(const bus::canopen::SdoResult& result, std::size_t n) {
    if (result.data.size() != n)
        return false;
    return result.size == n || (result.sizeUnstated && result.size >= n);
}

template <typename T>
int32_t download(uint32_t h, uint8_t node, uint16_t index, uint8_t sub, T value) {
    return onMaster(h, [&](copn::Master& master) {
        return succeeded(master.Download(node, index, sub, ToLittleEndian(value)));
    });
}

template <typename T>
int32_t upload(uint32_t h, uint8_t node, uint16_t index, uint8_t sub, T* value) {
    if (!value)
        return 0;
    return onMaster(h, [&](copn::Master& master) {
        const auto result = master.Upload(node, index, sub, sizeof(T));
        if (!succeeded(result))
            return false;
        if (!fitsEntry(result, sizeof(T))) {
            SetProgramLastError(bus::canopen::SdoAbort::LengthMismatch);
            return false;
        }
        *value = FromLittleEndian<T>(result.data);
        return true;
    });
}

int32_t nmt(uint32_t h, NmtCommand command, uint8_t node) {
    return onMaster(h, [&](copn::Master& master) { return master.SendNmt(command, node); });
}

} // namespace

// --- The interface ------------------------------------------------------------------------

COPN_EXPORT int32_t SetNodeID(uint32_t h, uint8_t nodeId) {
    return onMaster(h, [&](copn::Master& master) { return master.SetOwnNodeId(nodeId); });
}

COPN_EXPORT int32_t GetNodeID(uint32_t h, uint8_t* nodeId) {
    if (!nodeId)
        return 0;
    return onMaster(h, [&](copn::Master& master) {
        const uint8_t own = master.OwnNodeId();
        return own != 0 && (*nodeId = own, true);
    });
}

// --- Nodes --------------------------------------------------------------------------------

COPN_EXPORT int32_t AddNode(uint32_t h, uint8_t node) {
    return onMaster(h, [&](copn::Master& master) { return master.AddNode(node); });
}

COPN_EXPORT int32_t RemoveNode(uint32_t h, uint8_t node) {
    return onMaster(h, [&](copn::Master& master) { return master.RemoveNode(node); });
}

COPN_EXPORT int32_t GetNodeOnline(uint32_t h, uint8_t node, uint32_t* online) {
    if (!online)
        return 0;
    return onMaster(h, [&](copn::Master& master) {
        const auto now = master.NodeOnline(node);
        return now && (*online = *now ? 1 : 0, true);
    });
}

COPN_EXPORT int32_t NodeOnline(uint32_t h, uint8_t node) {
    return onMaster(h, [&](copn::Master& master) { return master.NodeOnline(node) == true; });
}

COPN_EXPORT int32_t GetNodeBootUpDetected(uint32_t h, uint8_t node, uint32_t* detected) {
    if (!detected)
        return 0;
    return onMaster(h, [&](copn::Master& master) {
        const auto seen = master.BootUpDetected(node);
        return seen && (*detected = *seen ? 1 : 0, true);
    });
}

COPN_EXPORT int32_t ClearNodeBootUpDetected(uint32_t h, uint8_t node) {
    return onMaster(h, [&](copn::Master& master) { return master.ClearBootUpDetected(node); });
}

COPN_EXPORT int32_t GetNodeState(uint32_t h, uint8_t node, uint8_t* state) {
    if (!state)
        return 0;
    return onMaster(h, [&](copn::Master& master) {
        const auto known = master.NodeState(node);
        return known && (*state = static_cast<uint8_t>(*known), true);
    });
}

// --- NMT and node guarding ----------------------------------------------------------------

COPN_EXPORT int32_t NMT_StartRemoteNode(uint32_t h, uint8_t node) {
    return nmt(h, NmtCommand::Start, node);
}

COPN_EXPORT int32_t NMT_StopRemoteNode(uint32_t h, uint8_t node) {
    return nmt(h, NmtCommand::Stop, node);
}

COPN_EXPORT int32_t NMT_EnterPreOperational(uint32_t h, uint8_t node) {
    return nmt(h, NmtCommand::EnterPreOperational, node);
}

COPN_EXPORT int32_t NMT_ResetNode(uint32_t h, uint8_t node) {
    return nmt(h, NmtCommand::ResetNode, node);
}

COPN_EXPORT int32_t NMT_ResetCommunication(uint32_t h, uint8_t node) {
    return nmt(h, NmtCommand::ResetCommunication, node);
}

COPN_EXPORT int32_t NMT_NodeGuard(uint32_t h, uint8_t node) {
    return onMaster(h, [&](copn::Master& master) { return master.SendGuardRequest(node); });
}

COPN_EXPORT int32_t NMT_StartGuarding(uint32_t h, uint8_t node, uint8_t lifeTimeFactor,
                                      uint16_t guardTimeMs) {
    return onMaster(h, [&](copn::Master& master) {
        return master.StartGuarding(node, lifeTimeFactor, std::chrono::milliseconds(guardTimeMs));
    });
}

COPN_EXPORT int32_t NMT_StopGuarding(uint32_t h, uint8_t node) {
    return onMaster(h, [&](copn::Master& master) { return master.StopGuarding(node); });
}

// --- SDO ----------------------------------------------------------------------------------

COPN_EXPORT int32_t SetSDOTimeout(uint32_t h, uint16_t timeoutMs) {
    return onMaster(h, [&](copn::Master& master) {
        return master.SetSdoTimeout(std::chrono::milliseconds(timeoutMs));
    });
}

COPN_EXPORT int32_t SDO_Download_UNSIGNED8(uint32_t h, uint8_t node, uint16_t index, uint8_t sub,
                                           uint8_t value) {
    return download(h, node, index, sub, value);
}

COPN_EXPORT int32_t SDO_Download_UNSIGNED16(uint32_t h, uint8_t node, uint16_t index, uint8_t sub,
                                            uint16_t value) {
    return download(h, node, index, sub, value);
}

COPN_EXPORT int32_t SDO_Download_UNSIGNED32(uint32_t h, uint8_t node, uint16_t index, uint8_t sub,
                                            uint32_t value) {
    return download(h, node, index, sub, value);
}

COPN_EXPORT int32_t SDO_Download_INTEGER8(uint32_t h, uint8_t node, uint16_t index, uint8_t sub,
                                          std::int8_t value) {
    return download(h, node, index, sub, value);
}

COPN_EXPORT int32_t SDO_Download_INTEGER16(uint32_t h, uint8_t node, uint16_t index, uint8_t sub,
                                           std::int16_t value) {
    return download(h, node, index, sub, value);
}

COPN_EXPORT int32_t SDO_Download_INTEGER32(uint32_t h, uint8_t node, uint16_t index, uint8_t sub,
                                           int32_t value) {
    return download(h, node, index, sub, value);
}

COPN_EXPORT int32_t SDO_Download(uint32_t h, uint8_t node, uint16_t index, uint8_t sub,
                                 uint32_t length, const uint8_t* data) {
    if (length == 0 || !data)
        return 0;
    return onMaster(h, [&](copn::Master& master) {
        return succeeded(
            master.Download(node, index, sub, std::vector<uint8_t>(data, data + length)));
    });
}

COPN_EXPORT int32_t SDO_Upload_UNSIGNED8(uint32_t h, uint8_t node, uint16_t index, uint8_t sub,
                                         uint8_t* value) {
    return upload(h, node, index, sub, value);
}

COPN_EXPORT int32_t SDO_Upload_UNSIGNED16(uint32_t h, uint8_t node, uint16_t index, uint8_t sub,
                                          uint16_t* value) {
    return upload(h, node, index, sub, value);
}

COPN_EXPORT int32_t SDO_Upload_UNSIGNED32(uint32_t h, uint8_t node, uint16_t index, uint8_t sub,
                                          uint32_t* value) {
    return upload(h, node, index, sub, value);
}

COPN_EXPORT int32_t SDO_Upload_INTEGER8(uint32_t h, uint8_t node, uint16_t index, uint8_t sub,
                                        std::int8_t* value) {
    return upload(h, node, index, sub, value);
}

COPN_EXPORT int32_t SDO_Upload_INTEGER16(uint32_t h, uint8_t node, uint16_t index, uint8_t sub,
                                         std::int16_t* value) {
    return upload(h, node, index, sub, value);
}

COPN_EXPORT int32_t SDO_Upload_INTEGER32(uint32_t h, uint8_t node, uint16_t index, uint8_t sub,
                                         int32_t* value) {
    return upload(h, node, index, sub, value);
}

COPN_EXPORT int32_t SDO_Upload_REAL32(uint32_t h, uint8_t node, uint16_t index, uint8_t sub,
                                      float* value) {
    return upload(h, node, index, sub, value);
}

COPN_EXPORT int32_t SDO_Upload(uint32_t h, uint8_t node, uint16_t index, uint8_t sub,
                               uint32_t* length, uint8_t* data) {
    if (!length || (!data && *length != 0))
        return 0;
    return onMaster(h, [&](copn::Master& master) {
        const auto result = master.Upload(node, index, sub, *length);
        if (!succeeded(result))
            return false;
        if (!result.data.empty())
            std::memcpy(data, result.data.data(), result.data.size());
        *length = static_cast<uint32_t>(result.data.size());
        return true;
    });
}

COPN_EXPORT int32_t SDO_Block_Transfer(uint32_t h, uint8_t node, uint16_t index, uint8_t sub,
                                       uint32_t flags, uint32_t* length, uint8_t* data,
                                       QVX_COPN_TransferProgress progress, void* context,
                                       uint32_t* went) {
    if (!length || (!data && *length != 0))
        return 0;
    return onMaster(h, [&](copn::Master& master) {
        const bool upload = flags & QVX_COPN_BLOCK_UPLOAD;
        bus::canopen::SdoResult result;
        if (upload) {
            result = master.BlockUpload(node, index, sub, *length);
        } else {
            copn::SdoChannel::Progress told;
            if (progress)
                told = [&](std::size_t done, std::size_t total) {
                    return progress(context, static_cast<uint32_t>(done),
                                    static_cast<uint32_t>(total)) != 0;
                };
            result = master.BlockDownload(node, index, sub,
                                          std::vector<uint8_t>(data, data + *length), told);
        }
        if (!succeeded(result))
            return false;
        if (upload) {
            if (!result.data.empty())
                std::memcpy(data, result.data.data(), result.data.size());
            *length = static_cast<uint32_t>(result.data.size());
        }
        if (went)
            *went = result.blockTransfer ? QVX_COPN_WENT_BLOCK : QVX_COPN_WENT_SEGMENTED;
        return true;
    });
}

COPN_EXPORT int32_t SDO_Block_Download(uint32_t, uint8_t, uint16_t, uint8_t, uint32_t,
                                       const uint8_t*) {
    return 0;
}

COPN_EXPORT int32_t SDO_Block_Upload(uint32_t, uint8_t, uint16_t, uint8_t, uint32_t*, uint8_t*) {
    return 0;
}

// --- PDO, SYNC, TIME, emergency -----------------------------------------------------------

COPN_EXPORT int32_t CheckEmergency(uint32_t, uint8_t, uint8_t*) {
    return 0;
}

COPN_EXPORT int32_t Sync(uint32_t) {
    return 0;
}

COPN_EXPORT int32_t TimeStamp(uint32_t) {
    return 0;
}

COPN_EXPORT int32_t SetPDOTimeout(uint32_t, uint16_t) {
    return 0;
}

COPN_EXPORT int32_t AddPDO(uint32_t, uint16_t, uint8_t, uint32_t) {
    return 0;
}

COPN_EXPORT int32_t PDO_Write(uint32_t, uint16_t, uint8_t, const uint8_t*) {
    return 0;
}

COPN_EXPORT int32_t PDO_Read(uint32_t, uint16_t, uint8_t*, uint8_t*) {
    return 0;
}

COPN_EXPORT int32_t COP_PDO_Write_Data(uint32_t, uint16_t, uint8_t, const uint8_t*) {
    return 0;
}

COPN_EXPORT int32_t COP_PDO_Read_Data(uint32_t, uint16_t, uint8_t*, uint8_t*) {
    return 0;
}

COPN_EXPORT int32_t COP_PDO_Read_Data_wTime(uint32_t, uint16_t, uint8_t*, uint8_t*, uint32_t*) {
    return 0;
}

COPN_EXPORT int32_t PDO_Read_Receive_Count(uint32_t, uint16_t, uint32_t*) {
    return 0;
}

COPN_EXPORT int32_t COP_PDO_Get_Event(uint32_t, uint16_t, uint32_t*) {
    return 0;
}
