#include "ProgramEntry.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* helpText =
    "usage: zandrel [c|d|u] [Qt options]\n"
    "\n"
    "Lists the nodes of a field-bus network with their identity and replaces their firmware.\n"
    "\n"
    "The first argument chooses the network without asking:\n"
    "  c   CANopen\n"
    "  d   DeviceNet\n"
    "  u   the VARNIX interface module\n"
    "Without it, the program asks which network to open.\n"
    "\n"
    "The driver libraries are taken from the folders in ZANDREL_DRIVER_PATH (separated by\n"
    "colons), else from beside the program or from its installed driver folder.\n"
    "Updates without a window: zandrel-flash(1).\n";

bool AsksForHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)
            return true;
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    // Answered before Qt starts, so that it works where no display is.
    if (AsksForHelp(argc, argv)) {
        std::fputs(helpText, stdout);
        return 0;
    }
    QApplication app(argc, argv); // takes Qt's own options out of argv
    return RunZandrel(ArgumentText(argc, argv));
}
