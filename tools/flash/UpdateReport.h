#pragma once

#include "FlashSession.h"
#include "SectorDescription.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

// What happened to one node, as the report gives it.
struct NodeOutcome {
    // Started: a program that held the file, stopped, was started without being written.
    enum Result { Updated, Skipped, Started, Failed };

    std::uint8_t node = 0;
    std::optional<NodeIdentityRow> before;
    std::optional<NodeIdentityRow> after;
    std::uint8_t sector = 0;
    std::string file;
    std::optional<SectorDescription> image; // the file's image header
    // A program download: the program written (in place of the sector), the file's CRC-32
    // and how the program went over the bus ("block", "segmented"; empty when not written).
    std::optional<std::uint8_t> program;
    std::optional<std::uint32_t> crc;
    std::string transfer;
    // A program: whether the node's identification equals the file's CRC-32.
    std::optional<bool> verified;
    Result result = Failed;
    std::string message;
    std::uint64_t bytes = 0;
    double seconds = 0;
    unsigned attempts = 0; // update: how often the update was made (0: not begun)
};

const char* ResultName(NodeOutcome::Result result);

// The report for a script: a JSON array, one object per node, in the order of the nodes.
void WriteJsonReport(std::ostream& out, const std::vector<NodeOutcome>& outcomes);

// The node list for a script: a JSON array of the nodes online with the list's columns.
void WriteJsonNodeList(std::ostream& out, const std::vector<NodeIdentityRow>& rows);

// A text as a JSON string, quotes included; bytes that are not UTF-8 text are escaped.
std::string JsonString(const std::string& text);
