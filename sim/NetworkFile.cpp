#include "NetworkFile.h"

#include "QuotedText.h"
#include "StateFiles.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

namespace sim {

namespace {

int digitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool ParseWholeNumber(const std::string& text, int base, std::uint64_t max, std::uint64_t* value) {
    std::string_view digits = text;
    std::uint64_t radix = base == 0 ? 10 : static_cast<std::uint64_t>(base);
    const bool hexadecimal =
        digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    if (hexadecimal && (base == 0 || base == 16)) {
        digits.remove_prefix(2);
        radix = 16;
    }
    if (digits.empty())
        return false;
    std::uint64_t v = 0;
    for (const char c : digits) {
        const int d = digitValue(c);
        if (d < 0 || static_cast<std::uint64_t>(d) >= radix ||
            static_cast<std::uint64_t>(d) > max ||
            v > (max - static_cast<std::uint64_t>(d)) / radix)
            return false;
        v = v * radix + static_cast<std::uint64_t>(d);
    }
    *value = v;
    return true;
}

std::string TrimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool TakeNetworkFolder(const std::string& folder, const char* defaultText,
                       std::unique_ptr<FolderLock>* lock, std::string* text, std::string* path,
                       std::string* error) {
    if (folder.empty()) {
        *error = "no folder for the simulated network (neither XDG_DATA_HOME nor a home folder)";
        return false;
    }
    if (!MakeFolders(folder)) {
        *error = folder + ": cannot be made";
        return false;
    }
    auto taken = FolderLock::Take(folder, error);
    if (!taken)
        return false;
    RemoveLeftoverTemporaries(folder,
                              [](const std::string& file) { return file == "network.ini"; });
    *path = folder + "/network.ini";
    std::vector<std::uint8_t> bytes;
    std::string problem;
    switch (ReadWholeFile(*path, MaxTextFileSize, &bytes, &problem)) {
    case FileRead::Read:
        text->assign(bytes.begin(), bytes.end());
        break;
    case FileRead::Missing:
        *text = defaultText;
        if (!WriteFileReplacing(*path, text->data(), text->size(), FileAccess::OwnerOnly)) {
            *error = *path + ": cannot be written";
            return false;
        }
        break;
    case FileRead::TooLarge:
        *error = *path + ": " + problem + ", too many for a network file";
        return false;
    case FileRead::Unreadable:
        *error = *path + ": cannot be read: " + problem;
        return false;
    }
    *lock = std::move(taken);
    return true;
}

std::string ReadNumber(const std::string& key, const std::string& value, std::uint64_t max,
                       std::uint32_t* field, int base) {
    std::uint64_t n = 0;
    if (!ParseWholeNumber(value, base, max, &n))
        return Quoted(key + "=" + value) + " is not a number from 0 to " + std::to_string(max);
    *field = static_cast<std::uint32_t>(n);
    return "";
}

std::string Read32BitNumber(const std::string& key, const std::string& value, std::uint32_t* field,
                            int base) {
    std::uint64_t n = 0;
    if (!ParseWholeNumber(value, base, 0xFFFFFFFFu, &n))
        return Quoted(key + "=" + value) + " is not a 32-bit number";
    *field = static_cast<std::uint32_t>(n);
    return "";
}

std::string ReadYesNo(const std::string& key, const std::string& value, bool* field) {
    if (value != "yes" && value != "no")
        return Quoted(key + "=" + value) + " is not yes or no";
    *field = value == "yes";
    return "";
}

std::string NetworkFlashProblem(const std::vector<const FlashNodeSettings*>& nodes,
                                bool windowGiven) {
    if (nodes.empty())
        return "";
    const FlashNodeSettings& last = *nodes.back();
    const std::uint32_t largest =
        *std::max_element(last.sectorSizes.begin(), last.sectorSizes.end());
    if (windowGiven && last.checksum.window > largest)
        return "checksum_window is at most the largest sector's size, " + std::to_string(largest) +
               " bytes";
    std::uint64_t total = 0;
    for (const FlashNodeSettings* node : nodes)
        for (std::uint32_t size : node->sectorSizes)
            total += size;
    if (total > MaxNetworkFlash)
        return "the network's nodes would hold more than " + std::to_string(MaxNetworkFlash) +
               " bytes of flash together";
    return "";
}

namespace {

// "ID#DATA" as candump writes a data frame: the CAN-ID and the first bytes of the data.
std::optional<FramePattern> readFramePattern(std::string_view text) {
    const std::optional<bus::CanFrame> frame = bus::ParseCandump(text);
    if (!frame || frame->remote)
        return std::nullopt;
    return FramePattern{frame->id, {frame->data.begin(), frame->data.begin() + frame->length}};
}

// A comma-separated list of frame patterns, at most MaxLoseOnce.
std::string readLoseOnce(const std::string& key, const std::string& value,
                         std::vector<FramePattern>* patterns) {
    std::vector<FramePattern> read;
    std::string_view rest = value;
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        std::string_view item = rest.substr(0, comma);
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ')
            item.remove_suffix(1);
        const std::optional<FramePattern> pattern = readFramePattern(item);
        if (!pattern || read.size() == MaxLoseOnce)
            return key + "=" + value + " is not a list of at most " + std::to_string(MaxLoseOnce) +
                   " frames written ID#DATA in hexadecimal (say 594#A4)";
        read.push_back(*pattern);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    *patterns = std::move(read);
    return "";
}

std::string readBusKey(const std::string& key, const std::string& value, BusFaultSettings* bus) {
    if (key == "lose_every")
        return ReadNumber(key, value, MaxFaultEvery, &bus->loseEvery);
    if (key == "duplicate_every")
        return ReadNumber(key, value, MaxFaultEvery, &bus->duplicateEvery);
    if (key == "delay_every")
        return ReadNumber(key, value, MaxFaultEvery, &bus->delayEvery);
    if (key == "delay_ms")
        return ReadNumber(key, value, MaxFaultDelayMilliseconds, &bus->delayMilliseconds, 10);
    if (key == "lose_once")
        return readLoseOnce(key, value, &bus->loseOnce);
    return "unknown key " + Quoted(key) + " in [bus]";
}

} // namespace

bool ReadNetworkFile(
    const std::string& text, const std::string& path, const NodeSections& nodes,
    const std::function<void(std::uint8_t node)>& openNode,
    const std::function<std::string(const std::string& key, const std::string& value)>& readKey,
    NetworkBehaviour* behaviour, std::string* error) {
    NetworkBehaviour read;
    std::set<std::uint8_t> seen;
    bool busSeen = false;
    enum class Section { None, Node, Bus } section = Section::None;
    std::uint8_t node = 0;
    std::set<std::string> sectionKeys;
    std::size_t start = 0;
    int line = 0;
    const auto fail = [&](const std::string& what) {
        *error = path + ":" + std::to_string(line) + ": " + what;
        return false;
    };
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string l = TrimBlanks(text.substr(start, end - start));
        start = end + 1;
        ++line;
        if (l.empty() || l[0] == '#' || l[0] == ';')
            continue;
        if (l.front() == '[') {
            sectionKeys.clear();
            if (l == "[bus]") {
                if (busSeen)
                    return fail("[bus] is given twice");
                busSeen = true;
                section = Section::Bus;
                continue;
            }
            std::uint64_t n = 0;
            if (l.back() != ']' || l.rfind("[node ", 0) != 0 ||
                !ParseWholeNumber(TrimBlanks(l.substr(6, l.size() - 7)), 10, nodes.highest, &n) ||
                n < nodes.lowest)
                return fail(std::string("a section is [node N], ") + nodes.says + ", or [bus]");
            node = static_cast<std::uint8_t>(n);
            if (!seen.insert(node).second)
                return fail("node " + std::to_string(n) + " is given twice");
            section = Section::Node;
            openNode(node);
            continue;
        }
        const auto equals = l.find('=');
        if (equals == std::string::npos)
            return fail("not key=value: " + Quoted(l));
        const std::string key = TrimBlanks(l.substr(0, equals));
        const std::string value = TrimBlanks(l.substr(equals + 1));
        if (section != Section::None && !sectionKeys.insert(key).second)
            std::fprintf(stderr,
                         "zandrel: %s:%d: %s is given twice in this section; the later value "
                         "counts\n",
                         path.c_str(), line, Quoted(key).c_str());
        std::string what;
        switch (section) {
        case Section::None:
            return fail("a key before the first [node N]");
        case Section::Bus:
            what = readBusKey(key, value, &read.bus);
            break;
        case Section::Node:
            if (key == "answer_delay_ms")
                what = ReadNumber(key, value, MaxAnswerDelayMilliseconds,
                                  &read.answerDelayMilliseconds[node], 10);
            else
                what = readKey(key, value);
            break;
        }
        if (!what.empty())
            return fail(what);
    }
    if (seen.empty()) {
        *error = path + ": lists no node";
        return false;
    }
    if (behaviour)
        *behaviour = std::move(read);
    return true;
}

} // namespace sim
