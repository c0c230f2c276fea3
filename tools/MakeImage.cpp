// zandrel-mkimage: writes a firmware image with a valid header as an Intel HEX file, for
// flashing into a (simulated) node.
//
//   zandrel-mkimage --target varnix --revision 2.18 --name "VARNIX App" -o app.hex
//
// Options: --target varnix | varnix-hw2 (images start at 0x28000) | canopen | devicenet, --name,
// --description,
// --date, --time, --revision MAJOR.MINOR, --size BYTES (default 16384), --record-size N
// (default 32), -o FILE.

#include "FirmwareImage.h"
#include "IntelHexWriter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

namespace {

struct Target {
    std::uint32_t start;
    std::uint32_t maxSize;
};

const std::map<std::string, Target> targets = {
    {"varnix", {0, 0x8000}},
    {"varnix-hw2", {0x28000, 0x8000}},
    // The CANopen program keeps 196,606 bytes of what it writes for the checksum.
    {"canopen", {0, 196606}},
    // So does the DeviceNet program (98,303 words).
    {"devicenet", {0, 196606}},
};

int usage(const char* message) {
    std::cerr << "zandrel-mkimage: " << message << "\n"
              << "usage: zandrel-mkimage --target varnix|varnix-hw2|canopen|devicenet --revision "
                 "MAJOR.MINOR "
                 "[--name TEXT] [--description TEXT] [--date TEXT] [--time TEXT] "
                 "[--size BYTES] [--record-size N] -o FILE\n";
    return 2;
}

constexpr const char* helpText =
    "usage: zandrel-mkimage --target varnix|varnix-hw2|canopen|devicenet --revision MAJOR.MINOR\n"
    "                       [--name TEXT] [--description TEXT] [--date TEXT] [--time TEXT]\n"
    "                       [--size BYTES] [--record-size N] -o FILE\n"
    "\n"
    "Writes a firmware image with a valid header as an Intel HEX file, for a simulated node.\n"
    "\n"
    "  --target NAME       varnix, varnix-hw2 (images start at 0x28000), canopen, devicenet\n"
    "  --revision M.N      the image's revision, each part 0..255\n"
    "  --name TEXT         the header's name (Application)\n"
    "  --description TEXT  the header's description (Example firmware)\n"
    "  --date TEXT         the header's date (Dec 10 2026)\n"
    "  --time TEXT         the header's time (12:00:00)\n"
    "  --size BYTES        the image's size, header included (16384)\n"
    "  --record-size N     data bytes per HEX record, 1..255 (32)\n"
    "  -o FILE             the file to write\n";

} // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> options = {
        {"--target", "varnix"},    {"--name", "Application"}, {"--description", "Example firmware"},
        {"--date", "Dec 10 2026"}, {"--time", "12:00:00"},    {"--size", "16384"},
        {"--record-size", "32"}};
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "-h" || option == "--help")
            return std::fputs(helpText, stdout), 0;
        if (i + 1 >= argc)
            return usage(("missing value after " + option).c_str());
        options[option == "-o" ? "--output" : option] = argv[++i];
    }
    auto target = targets.find(options["--target"]);
    if (target == targets.end())
        return usage("unknown target");
    if (!options.count("--revision") || !options.count("--output"))
        return usage("--revision and -o are required");

    unsigned major = 0, minor = 0;
    char extra;
    if (std::sscanf(options["--revision"].c_str(), "%u.%u%c", &major, &minor, &extra) != 2 ||
        major > 255 || minor > 255)
        return usage("the revision is MAJOR.MINOR, each 0..255");
    char* end = nullptr;
    unsigned long size = std::strtoul(options["--size"].c_str(), &end, 0);
    if (*end || size < sim::FirmwareHeaderSize || size > target->second.maxSize)
        return usage("the size must hold the header and fit the target's sector");
    unsigned long recordSize = std::strtoul(options["--record-size"].c_str(), &end, 0);
    if (*end || recordSize < 1 || recordSize > 255)
        return usage("the record size is 1..255");

    sim::FirmwareHeader header{options["--name"], options["--description"], options["--date"],
                               options["--time"], major << 16 | minor};
    auto image = sim::MakeFirmwareImage(header, size);
    std::ofstream out(options["--output"], std::ios::binary);
    out << IntelHexText(image, target->second.start, static_cast<unsigned>(recordSize));
    if (!out)
        return usage("cannot write the output file");
    return 0;
}
