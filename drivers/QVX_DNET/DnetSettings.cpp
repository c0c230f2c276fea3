#include "DnetSettings.h"

#include "CanSettings.h"
#include "DnetInterface.h"

namespace dnet {

namespace {

// The settings file, the address and bit rates this driver takes.
const CanSettingsRules Rules = {"QVX_DNET",    "MacId",        0,           63,
                                DefaultOwnMac, DefaultBitRate, ValidBitRate};

} // namespace

InterfaceRecord DefaultRecord() {
    InterfaceRecord record{};
    record.interfaceType = SimulatedNetwork;
    return record;
}

NetworkSettings DefaultNetworkSettings() {
    NetworkSettings network{};
    network.macId = DefaultOwnMac;
    network.bitRate = DefaultBitRate;
    return network;
}

bool ReadSettings(const char* keyPath, InterfaceRecord* record, NetworkSettings* network) {
    if (!network)
        return false;
    std::uint32_t address = 0, bitRate = 0;
    if (!ReadCanSettings(keyPath, Rules, record, &address, &bitRate))
        return false;
    *network = DefaultNetworkSettings();
    network->macId = address;
    network->bitRate = bitRate;
    return true;
}

bool SaveSettings(const char* keyPath, const InterfaceRecord& record,
                  const NetworkSettings& network) {
    return SaveCanSettings(keyPath, Rules, record, network.macId, network.bitRate);
}

} // namespace dnet
