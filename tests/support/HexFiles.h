#pragma once

#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

// Intel HEX text for tests: well-formed records with their checksums, and files made of
// them in a temporary folder that goes away with the object.
class HexFiles {
public:
    static std::string Record(std::uint8_t type, std::uint16_t offset,
                              const std::vector<std::uint8_t>& bytes) {
        std::uint8_t sum = static_cast<std::uint8_t>(bytes.size() + (offset >> 8) + offset + type);
        std::string line = ":" + Hex(static_cast<std::uint8_t>(bytes.size())) +
                           Hex(static_cast<std::uint8_t>(offset >> 8)) +
                           Hex(static_cast<std::uint8_t>(offset)) + Hex(type);
        for (std::uint8_t b : bytes) {
            line += Hex(b);
            sum = static_cast<std::uint8_t>(sum + b);
        }
        return line + Hex(static_cast<std::uint8_t>(-sum));
    }
    static std::string Data(std::uint16_t offset, const std::vector<std::uint8_t>& bytes) {
        return Record(0x00, offset, bytes);
    }
    static std::string EndOfFile() { return ":00000001FF"; }

    // count bytes counting up from first.
    static std::vector<std::uint8_t> Bytes(size_t count, std::uint8_t first = 0) {
        std::vector<std::uint8_t> bytes(count);
        for (size_t i = 0; i < count; ++i)
            bytes[i] = static_cast<std::uint8_t>(first + i);
        return bytes;
    }

    static std::string Hex(std::uint8_t value) {
        char text[3];
        std::snprintf(text, sizeof text, "%02X", value);
        return text;
    }

    // Writes the lines, each ended by "\n", to a new file; returns its path.
    std::string Write(const std::vector<std::string>& lines, const std::string& name = "") {
        std::string text;
        for (const auto& line : lines)
            text += line + "\n";
        return WriteText(text, name);
    }
    std::string WriteText(const std::string& text, const std::string& name = "") {
        std::string path = dir_.path().toStdString() + "/" +
                           (name.empty() ? "image" + std::to_string(++count_) + ".hex" : name);
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string Folder() const { return dir_.path().toStdString(); }

private:
    QTemporaryDir dir_;
    int count_ = 0;
};
