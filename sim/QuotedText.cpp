#include "QuotedText.h"

#include <cstdio>

namespace sim {

std::string Quoted(std::string_view text) {
    const std::string_view shown = text.substr(0, MaxQuotedCharacters);
    std::string quoted;
    quoted.reserve(shown.size() + 3);
    for (const char c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\t') {
            quoted += "\\t";
        } else if (byte >= 0x20 && byte < 0x7F) {
            quoted += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            quoted += escaped;
        }
    }
    if (text.size() > shown.size())
        quoted += "...";
    return quoted;
}

} // namespace sim
