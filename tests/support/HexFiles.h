#pragma once

#include <QTemporaryDir>
#include <algorithm>
#include <cstddef>
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

    // The 76-byte header a firmware build puts at the start of its image.
    static std::vector<std::uint8_t> Header(const std::string& name, std::uint32_t revision,
                                            const std::string& date = "Jan 02 2024",
                                            const std::string& time = "10:11:12",
                                            const std::string& text = "Application") {
        std::vector<std::uint8_t> header(76, 0);
        auto put = [&](size_t at, size_t width, const std::string& value) {
            for (size_t i = 0; i < value.size() && i + 1 < width; ++i)
                header[at + i] = static_cast<std::uint8_t>(value[i]);
        };
        put(0, 16, name);
        put(16, 32, text);
        put(48, 12, date);
        put(60, 12, time);
        for (int i = 0; i < 4; ++i)
            header[72 + i] = static_cast<std::uint8_t>(revision >> (8 * i));
        return header;
    }

    // The lines of a whole file: the bytes from address base on, in records of recordSize
    // bytes (with extended linear address records where the upper half changes), then the
    // end-of-file record.
    static std::vector<std::string> Image(const std::vector<std::uint8_t>& bytes,
                                          std::uint32_t base = 0, size_t recordSize = 32) {
        std::vector<std::string> lines;
        std::uint32_t upper = 0;
        for (size_t at = 0; at < bytes.size(); at += recordSize) {
            const std::uint32_t address = base + static_cast<std::uint32_t>(at);
            if ((address >> 16) != upper) {
                upper = address >> 16;
                lines.push_back(Record(
                    0x04, 0,
                    {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)}));
            }
            const size_t n = std::min(recordSize, bytes.size() - at);
            lines.push_back(Data(
                static_cast<std::uint16_t>(address),
                std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                          bytes.begin() + static_cast<std::ptrdiff_t>(at + n))));
        }
        lines.push_back(EndOfFile());
        return lines;
    }

    // A firmware image of size bytes (at least the header) under the given name.
    static std::vector<std::uint8_t> Firmware(const std::string& name, std::uint32_t revision,
                                              size_t size) {
        auto bytes = Header(name, revision);
        for (size_t i = bytes.size(); i < size; ++i)
            bytes.push_back(static_cast<std::uint8_t>(i));
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
