// The two network.ini parsers, CANopen and DeviceNet, each on the same text of any bytes.
//
// Promises checked: a parser either accepts the text with every value in its documented
// range, or refuses it with "<path>:<line>: what is wrong" (no line for a file that lists no
// node) and hands out no node.
// - accepted: at least one node; node-IDs 1 to 127 (MAC IDs 0 to 63), each once; settings
//   that make a flash node (FlashNodeSettings::Problem() is empty), and the node can be made
//   and leave the factory when its flash is small enough to make here; restart times within
//   their most; for DeviceNet a product code of at most 0x7FFF and a product name of at most
//   32 characters; the [bus] faults and answer delays within theirs, answer delays only for
//   nodes of the file;
// - the overload that reads the nodes alone agrees.
//
// Input: the text of network.ini.

#include "CanopenNetworkFile.h"
#include "DevicenetNetworkFile.h"
#include "FlashNode.h"
#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "QuietStderr.h"

#include <algorithm>
#include <set>

using namespace sim;

namespace {

const std::string Path = "network.ini";

// "network.ini:<line>: <what>" with a line of the text (or the one after its last), or
// "network.ini: <what>" for what no line holds (a file that lists no node).
void checkRefusal(const std::string& error, const std::string& text) {
    FUZZ_CHECK(error.rfind(Path + ":", 0) == 0, "a refusal names the file");
    const std::size_t at = Path.size() + 1;
    std::size_t end = at;
    while (end < error.size() && error[end] >= '0' && error[end] <= '9')
        ++end;
    if (end == at) {
        FUZZ_CHECK(error.compare(at, 1, " ") == 0 && error.size() > at + 1,
                   "a refusal says what is wrong");
        return;
    }
    FUZZ_CHECK(end - at < 10 && error.compare(end, 2, ": ") == 0 && error.size() > end + 2,
               "a refusal names the line and what is wrong");
    const unsigned long line = std::stoul(error.substr(at, end - at));
    const auto lines = static_cast<unsigned long>(std::count(text.begin(), text.end(), '\n'));
    FUZZ_CHECK(line >= 1 && line <= lines + 1, "a refusal names a line of the file");
}

void checkBehaviour(const NetworkBehaviour& behaviour, const std::set<unsigned>& nodes) {
    const BusFaultSettings& bus = behaviour.bus;
    FUZZ_CHECK(bus.loseEvery <= MaxFaultEvery && bus.duplicateEvery <= MaxFaultEvery &&
                   bus.delayEvery <= MaxFaultEvery &&
                   bus.delayMilliseconds <= MaxFaultDelayMilliseconds,
               "bus faults are within their ranges");
    for (const auto& [node, delay] : behaviour.answerDelayMilliseconds) {
        FUZZ_CHECK(nodes.count(node), "answer delays belong to nodes of the file");
        FUZZ_CHECK(delay <= MaxAnswerDelayMilliseconds, "answer delays are within their range");
    }
}

// Whether a node of these settings is small enough to be made here.
bool smallEnough(const FlashNodeSettings& flash) {
    std::uint64_t bytes = 0;
    for (std::uint32_t size : flash.sectorSizes)
        bytes += size;
    return bytes <= (1u << 20);
}

void checkFlash(const FlashNodeSettings& flash, std::uint32_t maxRestart) {
    FUZZ_CHECK(flash.Problem().empty(), "accepted settings make a flash node");
    FUZZ_CHECK(flash.restartMilliseconds <= maxRestart, "the restart time is within its range");
}

void canopen(const std::string& text) {
    std::vector<CanopenNodeSettings> nodes(1);
    nodes[0].nodeId = 200; // must stay as it is on a refusal
    NetworkBehaviour behaviour;
    std::string error;
    std::vector<CanopenNodeSettings> alone;
    std::string aloneError;
    bool ok = false, aloneOk = false;
    {
        const QuietStderr quiet;
        ok = ParseCanopenNetwork(text, Path, &nodes, &behaviour, &error);
        aloneOk = ParseCanopenNetwork(text, Path, &alone, &aloneError);
    }
    FUZZ_CHECK(aloneOk == ok && aloneError == error, "both overloads agree");
    if (!ok) {
        checkRefusal(error, text);
        FUZZ_CHECK(nodes.size() == 1 && nodes[0].nodeId == 200, "a refused file hands out no node");
        return;
    }
    FUZZ_CHECK(!nodes.empty() && alone.size() == nodes.size(), "an accepted file lists nodes");
    std::set<unsigned> ids;
    for (const CanopenNodeSettings& node : nodes) {
        FUZZ_CHECK(node.nodeId >= 1 && node.nodeId <= 127, "node-IDs are 1 to 127");
        FUZZ_CHECK(ids.insert(node.nodeId).second, "each node is listed once");
        checkFlash(node.flash, MaxCanopenRestartMilliseconds);
        if (smallEnough(node.flash)) {
            FlashNode flash(node.flash);
            LeaveCanopenFactory(flash);
        }
    }
    checkBehaviour(behaviour, ids);
}

void devicenet(const std::string& text) {
    std::vector<DevicenetNodeSettings> nodes(1);
    nodes[0].macId = 200;
    NetworkBehaviour behaviour;
    std::string error;
    std::vector<DevicenetNodeSettings> alone;
    std::string aloneError;
    bool ok = false, aloneOk = false;
    {
        const QuietStderr quiet;
        ok = ParseDevicenetNetwork(text, Path, &nodes, &behaviour, &error);
        aloneOk = ParseDevicenetNetwork(text, Path, &alone, &aloneError);
    }
    FUZZ_CHECK(aloneOk == ok && aloneError == error, "both overloads agree");
    if (!ok) {
        checkRefusal(error, text);
        FUZZ_CHECK(nodes.size() == 1 && nodes[0].macId == 200, "a refused file hands out no node");
        return;
    }
    FUZZ_CHECK(!nodes.empty() && alone.size() == nodes.size(), "an accepted file lists nodes");
    std::set<unsigned> ids;
    for (const DevicenetNodeSettings& node : nodes) {
        FUZZ_CHECK(node.macId <= 63, "MAC IDs are 0 to 63");
        FUZZ_CHECK(ids.insert(node.macId).second, "each node is listed once");
        checkFlash(node.flash, MaxDevicenetRestartMilliseconds);
        FUZZ_CHECK(node.flash.identity.productCode <= 0x7FFF, "product codes are 0 to 0x7FFF");
        FUZZ_CHECK(node.flash.identity.deviceName.size() <= 32,
                   "product names are at most 32 characters");
        if (smallEnough(node.flash)) {
            FlashNode flash(node.flash);
            LeaveDevicenetFactory(flash, node.factoryMode);
        }
    }
    checkBehaviour(behaviour, ids);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    canopen(text);
    devicenet(text);
    return 0;
}
