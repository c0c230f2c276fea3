#include "UpdateReport.h"

#include "ProgramImage.h"

#include <cctype>
#include <cstdio>
#include <string>

namespace {

// The keys of the node list's columns.
const char* const IdentityKeys[] = {"node",     "vendor_id",     "device_type", "product_code",
                                    "revision", "serial_number", "product_name"};

// The columns that hold numbers: the node, vendor ID, device type, product code and serial
// number (decimal, or hexadecimal with 0x); the revision and the name are texts.
bool numberColumn(std::size_t column) {
    return column != 4 && column != 6;
}

// A column's number as JSON; null when the node did not tell it, and the text as it stands
// when it is no number.
std::string jsonNumber(const std::string& text) {
    if (text.empty())
        return "null";
    const bool hex = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0;
    const std::string digits = hex ? text.substr(2) : text;
    bool number = !digits.empty() && digits.size() <= (hex ? 16u : 19u);
    for (char c : digits)
        number = number && (hex ? std::isxdigit(static_cast<unsigned char>(c))
                                : std::isdigit(static_cast<unsigned char>(c)));
    if (!number)
        return JsonString(text);
    return std::to_string(std::stoull(digits, nullptr, hex ? 16 : 10));
}

std::string identityObject(const NodeIdentityRow& row, bool withMode) {
    std::string text = "{";
    for (std::size_t i = 0; i < row.columns.size(); ++i) {
        if (i)
            text += ", ";
        text += JsonString(IdentityKeys[i]) + ": " +
                (numberColumn(i) ? jsonNumber(row.columns[i]) : JsonString(row.columns[i]));
    }
    if (withMode)
        text += std::string(", \"in_download_mode\": ") + (row.inDownloadMode ? "true" : "false");
    return text + "}";
}

std::string optionalIdentity(const std::optional<NodeIdentityRow>& row) {
    return row ? identityObject(*row, true) : "null";
}

std::string imageObject(const SectorDescription& header) {
    char revision[16];
    std::snprintf(revision, sizeof revision, "%u.%u", (header.Revision >> 16) & 0xFFu,
                  header.Revision & 0xFFu);
    return "{\"name\": " + JsonString(header.NameText()) +
           ", \"description\": " + JsonString(header.DescriptionText()) +
           ", \"build_date\": " + JsonString(header.BuildDateText()) +
           ", \"build_time\": " + JsonString(header.BuildTimeText()) +
           ", \"revision\": " + JsonString(revision) + "}";
}

} // namespace

const char* ResultName(NodeOutcome::Result result) {
    switch (result) {
    case NodeOutcome::Updated:
        return "updated";
    case NodeOutcome::Skipped:
        return "skipped";
    case NodeOutcome::Started:
        return "started";
    default:
        return "failed";
    }
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '"':
            out += "\\\"";
            continue;
        case '\\':
            out += "\\\\";
            continue;
        case '\n':
            out += "\\n";
            continue;
        case '\r':
            out += "\\r";
            continue;
        case '\t':
            out += "\\t";
            continue;
        default:
            break;
        }
        if (c < 0x20 || c >= 0x80) {
            // Bytes beyond ASCII stand for themselves as Latin-1, never as broken UTF-8.
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void WriteJsonReport(std::ostream& out, const std::vector<NodeOutcome>& outcomes) {
    out << "[";
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const NodeOutcome& o = outcomes[i];
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", o.seconds);
        out << (i ? ",\n " : "\n ") << "{\"node\": " << static_cast<unsigned>(o.node)
            << ", \"before\": " << optionalIdentity(o.before)
            << ", \"after\": " << optionalIdentity(o.after)
            << (o.program ? ", \"program\": " : ", \"sector\": ")
            << static_cast<unsigned>(o.program ? *o.program : o.sector)
            << ", \"file\": " << JsonString(o.file);
        if (o.program) {
            out << ", \"crc\": " << (o.crc ? JsonString(Hex32Text(*o.crc)) : "null")
                << ", \"transfer\": " << (o.transfer.empty() ? "null" : JsonString(o.transfer))
                << ", \"verified\": " << (o.verified ? (*o.verified ? "true" : "false") : "null");
        } else {
            out << ", \"image\": " << (o.image ? imageObject(*o.image) : "null");
        }
        out << ", \"result\": " << JsonString(ResultName(o.result))
            << ", \"message\": " << JsonString(o.message) << ", \"attempts\": " << o.attempts
            << ", \"bytes\": " << o.bytes << ", \"seconds\": " << seconds << "}";
    }
    out << (outcomes.empty() ? "]\n" : "\n]\n");
}

void WriteJsonNodeList(std::ostream& out, const std::vector<NodeIdentityRow>& rows) {
    out << "[";
    for (std::size_t i = 0; i < rows.size(); ++i)
        out << (i ? ",\n " : "\n ") << identityObject(rows[i], false);
    out << (rows.empty() ? "]\n" : "\n]\n");
}
