// A CAN driver's stored configuration read from an INI file of any bytes.
//
// Promises checked, for the traits of the driver under test: reading the file succeeds, and
// what it gives is a configuration the driver can use: an interface type the core knows, an
// address within the driver's range, a bit rate the bus takes, an access point name that ends
// within its field. Saving that configuration and reading it back gives it again.

#include "DriverSettingsCheck.h"

#include "Backends.h"
#include "CanSettings.h"
#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "FuzzScratch.h"
#include "SettingsStore.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace drivercore;
namespace fs = std::filesystem;

namespace {

const fs::path& scratchRoot() {
    return FuzzScratchRoot("settings");
}

void checkUsable(const DriverTraits& traits, const InterfaceRecord& record,
                 const NetworkSettings& network) {
    FUZZ_CHECK(InterfaceTypeName(record.interfaceType) != nullptr,
               "the interface type is one the core knows");
    FUZZ_CHECK(network.address >= traits.minAddress && network.address <= traits.maxAddress,
               "the address is within the driver's range");
    FUZZ_CHECK(traits.validBitRate(network.bitRate), "the bit rate is one the bus takes");
    FUZZ_CHECK(std::memchr(record.accessPoint, 0, sizeof record.accessPoint) != nullptr,
               "the access point name ends within its field");
}

} // namespace

void PrepareDriverSettingsCheck() {
    setenv("XDG_CONFIG_HOME", scratchRoot().c_str(), 1);
}

int CheckDriverSettings(const DriverTraits& traits, const std::uint8_t* data, std::size_t size) {
    // A key path of its own for every input: the INI reader keeps files it has read.
    static unsigned run = 0;
    ++run;
    FuzzInput in(data, size);
    const std::string keyPath = "\\Software\\Zandrel\\Fuzz" + std::to_string(run) + "\\";
    const std::string savedPath = "\\Software\\Zandrel\\Saved" + std::to_string(run) + "\\";
    const std::string file = SettingsFileFor(keyPath.c_str(), traits.libraryName);
    FUZZ_CHECK(!file.empty(), "the key path names a place");
    fs::remove_all(scratchRoot());
    fs::create_directories(fs::path(file).parent_path());
    {
        const auto text = in.Rest();
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(text.data()),
                  static_cast<std::streamsize>(text.size()));
    }

    InterfaceRecord record{};
    NetworkSettings network{};
    FUZZ_CHECK(ReadSettings(traits, keyPath.c_str(), &record, &network),
               "a stored configuration is read");
    checkUsable(traits, record, network);

    FUZZ_CHECK(SaveSettings(traits, savedPath.c_str(), record, network),
               "a configuration is saved");
    InterfaceRecord again{};
    NetworkSettings networkAgain{};
    FUZZ_CHECK(ReadSettings(traits, savedPath.c_str(), &again, &networkAgain),
               "a saved configuration is read");
    FUZZ_CHECK(again.interfaceType == record.interfaceType && again.port == record.port &&
                   again.irq == record.irq && again.comPort == record.comPort &&
                   again.comBaud == record.comBaud && again.AccessPoint() == record.AccessPoint(),
               "a saved interface record reads back as it was");
    FUZZ_CHECK(networkAgain.address == network.address && networkAgain.bitRate == network.bitRate,
               "saved network settings read back as they were");
    return 0;
}
