#include "CanFrame.h"

#include <algorithm>

namespace bus {

namespace {

constexpr char hexDigits[] = "0123456789ABCDEF";

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

CanFrame CanFrame::Data(std::uint16_t id, std::initializer_list<std::uint8_t> bytes) {
    return Data(id, bytes.begin(), bytes.size());
}

CanFrame CanFrame::Data(std::uint16_t id, const std::uint8_t* bytes, std::size_t count) {
    CanFrame frame;
    frame.id = id;
    frame.length = static_cast<std::uint8_t>(std::min<std::size_t>(count, MaxLength));
    std::copy(bytes, bytes + frame.length, frame.data.begin());
    return frame;
}

CanFrame CanFrame::Remote(std::uint16_t id, std::uint8_t length) {
    CanFrame frame;
    frame.id = id;
    frame.remote = true;
    frame.length = length;
    return frame;
}

bool operator==(const CanFrame& a, const CanFrame& b) {
    if (a.id != b.id || a.remote != b.remote || a.length != b.length)
        return false;
    if (a.remote)
        return true;
    const std::size_t n = std::min<std::size_t>(a.length, CanFrame::MaxLength);
    return std::equal(a.data.begin(), a.data.begin() + n, b.data.begin());
}

std::string ToCandump(const CanFrame& frame) {
    std::string text;
    text += hexDigits[(frame.id >> 8) & 0x7];
    text += hexDigits[(frame.id >> 4) & 0xF];
    text += hexDigits[frame.id & 0xF];
    text += '#';
    if (frame.remote) {
        text += 'R';
        if (frame.length != 0)
            text += hexDigits[std::min<std::uint8_t>(frame.length, CanFrame::MaxLength)];
        return text;
    }
    for (std::size_t i = 0; i < std::min<std::size_t>(frame.length, CanFrame::MaxLength); ++i) {
        text += hexDigits[frame.data[i] >> 4];
        text += hexDigits[frame.data[i] & 0xF];
    }
    return text;
}

std::optional<CanFrame> ParseCandump(std::string_view text) {
    const std::size_t hash = text.find('#');
    if (hash == std::string_view::npos || hash == 0 || hash > 3)
        return std::nullopt;
    CanFrame frame;
    for (char c : text.substr(0, hash)) {
        const int v = hexValue(c);
        if (v < 0)
            return std::nullopt;
        frame.id = static_cast<std::uint16_t>(frame.id * 16 + v);
    }
    if (frame.id > CanFrame::MaxId)
        return std::nullopt;
    std::string_view rest = text.substr(hash + 1);
    if (!rest.empty() && (rest[0] == 'R' || rest[0] == 'r')) {
        frame.remote = true;
        if (rest.size() == 1)
            return frame;
        if (rest.size() != 2 || rest[1] < '0' || rest[1] > '8')
            return std::nullopt;
        frame.length = static_cast<std::uint8_t>(rest[1] - '0');
        return frame;
    }
    if (rest.size() % 2 != 0 || rest.size() > 2 * CanFrame::MaxLength)
        return std::nullopt;
    for (std::size_t i = 0; i < rest.size(); i += 2) {
        const int high = hexValue(rest[i]);
        const int low = hexValue(rest[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        frame.data[frame.length++] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return frame;
}

} // namespace bus
