#pragma once

#include "BusFaults.h"
#include "FlashNode.h"
#include "FolderLock.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// A whole number, in the given base (0: decimal, or hexadecimal after 0x; a leading zero
// makes no octal number), without sign or blanks, at most max. Base 16 takes a 0x too.
bool ParseWholeNumber(const std::string& text, int base, std::uint64_t max, std::uint64_t* value);

// The text without blanks (and a carriage return) at either end.
std::string TrimBlanks(const std::string& text);

// Takes a simulated network's folder for this process (made when missing, locked) and the
// text of its network.ini, written first with defaultText when there is none. False, with the
// reason in *error, when there is no folder, it is in use by another process, or the file
// cannot be read or written.
bool TakeNetworkFolder(const std::string& folder, const char* defaultText,
                       std::unique_ptr<FolderLock>* lock, std::string* text, std::string* path,
                       std::string* error);

// What a network file asks of the node host besides its nodes, the same for every bus:
//   [bus] section       lose_every, duplicate_every, delay_every (0 to 1000000; every Nth
//                       frame the nodes receive or send is lost, arrives twice, arrives
//                       delay_ms later; 0: never) and delay_ms (0 to 5000)
//   answer_delay_ms     in a node's section, 0 to 5000: every answer of the node comes that
//                       much later
struct NetworkBehaviour {
    BusFaultSettings bus;
    std::map<std::uint8_t, std::uint32_t> answerDelayMilliseconds; // by node address
};

inline constexpr std::uint32_t MaxAnswerDelayMilliseconds = 5000;
inline constexpr std::uint32_t MaxFaultEvery = 1000000;
inline constexpr std::uint32_t MaxFaultDelayMilliseconds = 5000;
inline constexpr std::size_t MaxLoseOnce = 16; // frames a [bus] section's lose_once names

// The most flash the nodes of one network hold together, so that a network served whole stays
// within a few hundred MiB of memory.
inline constexpr std::uint64_t MaxNetworkFlash = 256u << 20;

// What is wrong with the flash of a network's last node, read so far, and of the whole
// network: a checksum_window given (windowGiven) beyond the node's largest sector, or more
// than MaxNetworkFlash together; "" when nothing is.
std::string NetworkFlashProblem(const std::vector<const FlashNodeSettings*>& nodes,
                                bool windowGiven);

// The node sections a network's file may have: [node N], N from lowest to highest.
struct NodeSections {
    std::uint8_t lowest;
    std::uint8_t highest;
    const char* says; // how a refusal names the range: "N from 1 to 127"
};

// Reads a network file: "[node N]" sections, each once, and at most one [bus] section, of
// "key=value" lines; blank lines and lines that begin with # or ; are skipped. The keys of
// NetworkBehaviour go to *behaviour; a node's section opens with openNode(N), and its other
// keys go to readKey, which returns what is wrong with one ("" when nothing is). False, with
// "<path>:<line>: what is wrong" in *error, at the first fault, or for a file that lists no
// node.
bool ReadNetworkFile(
    const std::string& text, const std::string& path, const NodeSections& nodes,
    const std::function<void(std::uint8_t node)>& openNode,
    const std::function<std::string(const std::string& key, const std::string& value)>& readKey,
    NetworkBehaviour* behaviour, std::string* error);

// Reads a network file of nodes of one kind: each node's section starts from defaults(N), and
// its keys go to readKey, which returns what is wrong with one ("" when nothing is). The nodes
// go to *nodes, in the order of their sections, when the whole file is good; else as
// ReadNetworkFile.
template <typename Settings>
bool ReadNodeNetwork(const std::string& text, const std::string& path, const NodeSections& sections,
                     Settings (*defaults)(std::uint8_t node),
                     std::string (*readKey)(const std::string& key, const std::string& value,
                                            Settings* node),
                     std::vector<Settings>* nodes, NetworkBehaviour* behaviour,
                     std::string* error) {
    std::vector<Settings> read;
    bool windowGiven = false;
    const auto openNode = [&](std::uint8_t node) {
        read.push_back(defaults(node));
        windowGiven = false;
    };
    const auto readNodeKey = [&](const std::string& key, const std::string& value) {
        if (std::string what = readKey(key, value, &read.back()); !what.empty())
            return what;
        windowGiven = windowGiven || key == "checksum_window";
        std::vector<const FlashNodeSettings*> flash;
        for (const Settings& node : read)
            flash.push_back(&node.flash);
        return NetworkFlashProblem(flash, windowGiven);
    };
    if (!ReadNetworkFile(text, path, sections, openNode, readNodeKey, behaviour, error))
        return false;
    *nodes = std::move(read);
    return true;
}

// Reads a key's value into *field: a number from 0 to max (base 0: decimal or 0x-hexadecimal).
// "" when it is one, else what is wrong ("key=value is not a number from 0 to max").
std::string ReadNumber(const std::string& key, const std::string& value, std::uint64_t max,
                       std::uint32_t* field, int base = 0);
// Reads any 32-bit number into *field (base as ReadNumber); "" when it is one, else what is
// wrong ("key=value is not a 32-bit number").
std::string Read32BitNumber(const std::string& key, const std::string& value, std::uint32_t* field,
                            int base = 0);
// Reads yes or no into *field; "" when it is one of them, else what is wrong.
std::string ReadYesNo(const std::string& key, const std::string& value, bool* field);

} // namespace sim
