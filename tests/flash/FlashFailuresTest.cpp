// zandrel-flash's failures as a script meets them, end to end over the embedded networks:
// each says why on standard error and in the report, a usage error is told before anything
// is touched, the image checks stop an unattended update unless --force answers them, and
// a node that is not named is not touched.

#include "FieldNode.h"
#include "FlashHarness.h"
#include "ScopedEnvironment.h"
#include "SimulatedCanopen.h"
#include "SimulatedDevicenet.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string CanopenApp = EXAMPLES_DIR "/canopen-app-1.6.hex";
const std::string DevicenetApp = EXAMPLES_DIR "/devicenet-app-1.6.hex";

// Files of every kind a user may give, in a folder of their own.
class InputFiles {
public:
    InputFiles() {
        // 256 bytes of 0x55 from address 0: sound HEX, but no firmware.
        std::string junk;
        for (int address = 0; address < 256; address += 16) {
            unsigned sum = 16 + (address >> 8) + (address & 0xFF);
            char line[64];
            std::snprintf(line, sizeof line, ":10%04X00", address);
            junk += line;
            for (int i = 0; i < 16; ++i) {
                junk += "55";
                sum += 0x55;
            }
            std::snprintf(line, sizeof line, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
            junk += line;
        }
        write("junk.hex", junk + ":00000001FF\n");
        write("empty.hex", "");
        write("badsum.hex", ":0400000001020304F2\n:0400040005060708E0\n:00000001FF\n");
        write("noend.hex", ":0400000001020304F2\n");
        ::mkdir(Path("folder.hex").c_str(), 0755);
    }

    std::string Path(const std::string& name) const {
        return folder_.path().toStdString() + "/" + name;
    }

private:
    void write(const std::string& name, const std::string& text) {
        std::ofstream(Path(name), std::ios::binary) << text;
    }
    QTemporaryDir folder_;
};

// The bytes of node 3's sector 2 on the simulated CANopen network (its folder keeps them
// inverted, so that erased flash is a hole); empty when the node was never spoken to.
std::string sector2(const std::string& networkFolder) {
    std::ifstream in(networkFolder + "/node-3/sector2.flash", std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    for (char& b : bytes)
        b = static_cast<char>(~b);
    return bytes;
}

// As the node leaves the factory: "CANopen App" 1.5.
bool holdsFactoryApp(const std::string& sector) {
    return sector.empty() || (sector.compare(0, 11, "CANopen App") == 0 &&
                              sector.compare(72, 4, std::string("\x05\x00\x01\x00", 4)) == 0);
}

struct FailureRow {
    const char* name;
    const char* network; // the CANopen network (nullptr: the DeviceNet one)
    std::function<std::string(const InputFiles&)> arguments;
    int status;
    const char* err;     // a text on standard error
    const char* result;  // the report's result; nullptr: no report (a usage error)
    const char* message; // a text of the report's message
    enum Flash { Unchanged, Junk, DeviceNetImage } flash;
};

void PrintTo(const FailureRow& row, std::ostream* out) {
    *out << row.name;
}

const char* const Standard = SimulatedCanopen::StandardNodes;
const char* const Default = SimulatedCanopen::Network;

const FailureRow FailureRows[] = {
    {"NodeNotOnline", Default,
     [](const InputFiles&) { return "update --bus c --node 5 --yes --json - " + CanopenApp; }, 1,
     "node 5: failed: node 5 is not online", "failed", "node 5 is not online",
     FailureRow::Unchanged},
    {"MacIdBeyondDeviceNet", nullptr,
     [](const InputFiles&) { return "update --bus d --node 64 --yes " + DevicenetApp; }, 2,
     "--node 64: DeviceNet MAC IDs are 0 to 63", nullptr, "", FailureRow::Unchanged},
    {"ProgramTheNodeDoesNotHave", Standard,
     [](const InputFiles&) {
         return "program --bus c --node 20 --program 2 --yes --json - " + CanopenApp;
     },
     1, "node 20: failed: node 20 has no program 2 (it has 1 program)", "failed",
     "has no program 2", FailureRow::Unchanged},
    {"PasswordMissing", Default,
     [](const InputFiles&) { return "update --bus c --node 3 --yes --json - " + CanopenApp; }, 1,
     "node 3: failed: node 3 needs its download-mode password: give --password", "failed",
     "give --password", FailureRow::Unchanged},
    {"ProgramDownloadNodeToUpdate", Standard,
     [](const InputFiles&) { return "update --bus c --node 20 --yes --json - " + CanopenApp; }, 1,
     "node 20: failed: node 20 takes program download: use zandrel-flash program", "failed",
     "use zandrel-flash program", FailureRow::Unchanged},
    {"JunkWithYes", Default,
     [](const InputFiles& f) {
         return "update --bus c --node 3 --password 1A2B --yes --json - " + f.Path("junk.hex");
     },
     1, "refused: the file holds no firmware image header; give --force", "failed", "give --force",
     FailureRow::Unchanged},
    {"JunkWithForce", Default,
     [](const InputFiles& f) {
         return "update --bus c --node 3 --password 1A2B --yes --force --json - " +
                f.Path("junk.hex");
     },
     0, "node 3: updated", "updated", "Download Successful", FailureRow::Junk},
    {"OtherProductWithYes", Default,
     [](const InputFiles&) {
         return "update --bus c --node 3 --password 1A2B --yes --json - " + DevicenetApp;
     },
     1, "refused: the file holds another product's firmware than the node; give --force", "failed",
     "give --force", FailureRow::Unchanged},
    {"OtherProductWithForce", Default,
     [](const InputFiles&) {
         return "update --bus c --node 3 --password 1A2B --yes --force --json - " + DevicenetApp;
     },
     0, "node 3: updated", "updated", "Download Successful", FailureRow::DeviceNetImage},
    {"Directory", Default,
     [](const InputFiles& f) {
         return "update --bus c --node 3 --password 1A2B --yes --json - " + f.Path("folder.hex");
     },
     1, "folder.hex: a directory, not a file", "failed", "a directory", FailureRow::Unchanged},
    {"MissingFile", Default,
     [](const InputFiles& f) {
         return "update --bus c --node 3 --password 1A2B --yes --json - " + f.Path("gone.hex");
     },
     1, "gone.hex: no such file", "failed", "no such file", FailureRow::Unchanged},
    {"EmptyFile", Default,
     [](const InputFiles& f) {
         return "update --bus c --node 3 --password 1A2B --yes --json - " + f.Path("empty.hex");
     },
     1, "empty.hex: the file is empty", "failed", "the file is empty", FailureRow::Unchanged},
    {"BadChecksum", Default,
     [](const InputFiles& f) {
         return "update --bus c --node 3 --password 1A2B --yes --json - " + f.Path("badsum.hex");
     },
     1, "badsum.hex: line 2: the record's checksum does not match its bytes", "failed", "line 2",
     FailureRow::Unchanged},
    {"NoEndRecord", Default,
     [](const InputFiles& f) {
         return "update --bus c --node 3 --password 1A2B --yes --json - " + f.Path("noend.hex");
     },
     1, "noend.hex: the file ends without its end-of-file record", "failed",
     "without its end-of-file record", FailureRow::Unchanged},
};

class FlashFailures : public testing::TestWithParam<FailureRow> {};

TEST_P(FlashFailures, SayWhyWhereTheUserLooksAndKeepTheFlash) {
    const FailureRow& row = GetParam();
    InputFiles files;
    std::unique_ptr<SimulatedCanopen> canopen;
    std::unique_ptr<SimulatedDevicenet> devicenet;
    if (row.network)
        canopen = std::make_unique<SimulatedCanopen>(row.network);
    else
        devicenet = std::make_unique<SimulatedDevicenet>();

    const FlashResult result = flash(row.arguments(files));
    EXPECT_EQ(result.status, row.status) << result.err;
    EXPECT_NE(result.err.find(row.err), std::string::npos) << result.err;
    if (row.result) {
        const QJsonArray report = records(result);
        ASSERT_EQ(report.size(), 1) << result.out;
        const QJsonObject record = report[0].toObject();
        EXPECT_EQ(text(record["result"]), row.result);
        EXPECT_NE(text(record["message"]).find(row.message), std::string::npos)
            << text(record["message"]);
    } else {
        EXPECT_FALSE(result.networkOpened);
    }
    if (!canopen)
        return;
    const std::string flash = sector2(canopen->NetworkFolder());
    switch (row.flash) {
    case FailureRow::Unchanged:
        EXPECT_TRUE(holdsFactoryApp(flash)) << flash.substr(0, 16);
        break;
    case FailureRow::Junk:
        EXPECT_EQ(flash.substr(0, 256), std::string(256, '\x55'));
        break;
    case FailureRow::DeviceNetImage:
        EXPECT_EQ(flash.compare(0, 13, "DeviceNet App"), 0) << flash.substr(0, 16);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, FlashFailures, testing::ValuesIn(FailureRows),
                         [](const testing::TestParamInfo<FailureRow>& info) {
                             return std::string(info.param.name);
                         });

// A file the user may not read: refused with the system's reason before any node is touched.
// Root reads every file, so the run is made as an ordinary user when the test runs as root.
TEST(FlashFailuresOfFiles, AFileTheUserMayNotReadIsNamedWithTheSystemsReason) {
    SimulatedCanopen simulated;
    QTemporaryDir folder;
    ::chmod(folder.path().toLocal8Bit().constData(), 0755);
    const std::string path = folder.path().toStdString() + "/secret.hex";
    std::ofstream(path) << ":0400000001020304F2\n:00000001FF\n";
    ::chmod(path.c_str(), 0);
    const std::string command = "update --bus c --node 3 --password 1A2B --yes " + path;

    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeEnds[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(99);
        const FlashResult result = flash(command);
        const std::string answer = std::to_string(result.status) + "\n" + result.err;
        [[maybe_unused]] ssize_t written = ::write(pipeEnds[1], answer.data(), answer.size());
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    std::string answer;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeEnds[0]);
    int childStatus = 0;
    ::waitpid(child, &childStatus, 0);
    ASSERT_TRUE(WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0) << childStatus;
    EXPECT_EQ(answer.substr(0, 2), "1\n") << answer;
    EXPECT_NE(answer.find("secret.hex: cannot be read: permission denied"), std::string::npos)
        << answer;
}

// A node left in download mode (by `sectors`, or an update that stopped) is reported as the
// firmware it boots, not as its loader.
TEST(FlashFailuresOfNodes, ANodeFoundInDownloadModeIsReportedAsTheFirmwareItBoots) {
    SimulatedCanopen simulated;
    const FlashResult table = flash("sectors --bus c --node 3 --password 1A2B --yes");
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.err.find("node 3 is in download mode: zandrel-flash reset --bus canopen "
                             "--node 3 restarts it"),
              std::string::npos)
        << table.err;

    const FlashResult update =
        flash("update --bus c --node 3 --password 1A2B --yes --json - " + CanopenApp);
    EXPECT_EQ(update.status, 0) << update.err;
    const QJsonObject record = records(update)[0].toObject();
    const QJsonObject before = record["before"].toObject();
    EXPECT_TRUE(before["in_download_mode"].toBool());
    EXPECT_EQ(text(before["revision"]), "1.5");
    EXPECT_EQ(text(before["product_name"]), "CANopen App");
    EXPECT_TRUE(before["product_code"].isNull()); // the loader's is not the application's
    EXPECT_FALSE(record["after"].toObject()["in_download_mode"].toBool());
    EXPECT_EQ(text(record["after"].toObject()["revision"]), "1.6");
}

// Frames the trace shows addressed to a node: its SDO requests, guard requests (remote
// frames), and NMT commands to it or to every node. What the node sends itself (its boot-up)
// is not.
bool addresses(const std::string& traceLine, unsigned node) {
    const std::size_t hash = traceLine.find('#');
    if (hash == std::string::npos || hash < 3)
        return false;
    const unsigned id = std::stoul(traceLine.substr(hash - 3, 3), nullptr, 16);
    if (id == 0x600 + node || (id == 0x700 + node && traceLine.compare(hash + 1, 1, "R") == 0))
        return true;
    if (id != 0 || traceLine.size() < hash + 5)
        return false;
    const unsigned target = std::stoul(traceLine.substr(hash + 3, 2), nullptr, 16);
    return target == 0 || target == node;
}

TEST(FlashFailuresOfNodes, AnUpdateOfOneCanopenNodeTouchesNoOther) {
    SimulatedCanopen simulated;
    QTemporaryDir folder;
    const std::string trace = folder.path().toStdString() + "/bus.log";
    setenv("ZANDREL_CAN_TRACE", trace.c_str(), 1);
    const FlashResult update = flash("update --bus c --node 3 --password 1A2B --yes " + CanopenApp);
    unsetenv("ZANDREL_CAN_TRACE");
    EXPECT_EQ(update.status, 0) << update.err;

    std::ifstream in(trace);
    int frames = 0;
    for (std::string line; std::getline(in, line); ++frames)
        for (unsigned other : {9u, 12u})
            EXPECT_FALSE(addresses(line, other)) << "node " << other << ": " << line;
    EXPECT_GT(frames, 100) << "the update's frames were not traced";
}

} // namespace

namespace {

// Answered on the terminal: a declined question is named, and nothing was done.
TEST(FlashFailuresOfQuestions, ADeclinedNetworkSearchIsNamed) {
    SimulatedCanopen simulated;
    std::istringstream in("no\n");
    std::ostringstream out, err;
    FlashStreams streams;
    streams.in = &in;
    streams.out = &out;
    streams.err = &err;
    EXPECT_EQ(RunFlash({"list", "--bus", "c"}, streams), 1);
    EXPECT_NE(err.str().find("the network search was not answered Yes: nothing was done"),
              std::string::npos)
        << err.str();
}

} // namespace

namespace {

// The node's folder as it stands: its flash and its state (mode, boot sector, checksums).
std::string nodeFolder(const std::string& networkFolder) {
    std::string all;
    for (const char* file :
         {"node.state", "sector0.flash", "sector1.flash", "sector2.flash", "sector3.flash"}) {
        std::ifstream in(networkFolder + "/node-3/" + file, std::ios::binary);
        all += std::string(file) + ":" + std::string(std::istreambuf_iterator<char>(in), {});
    }
    return all;
}

struct HostileFile {
    const char* name;
    std::function<std::string(const std::string& folder)> make; // the file's path
    const char* message;
};

void PrintTo(const HostileFile& file, std::ostream* out) {
    *out << file.name;
}

// Records that write address 0x08 twice, with different bytes.
const char* const Overlapping = ":1000000000000000000000000000000000000000F0\n"
                                ":0400080001020304EA\n"
                                ":00000001FF\n";

const HostileFile HostileFileRows[] = {
    {"Fifo",
     [](const std::string& folder) {
         const std::string path = folder + "/pipe.hex";
         ::mkfifo(path.c_str(), 0600);
         return path;
     },
     "pipe.hex: not a regular file"},
    {"DevZero", [](const std::string&) { return std::string("/dev/zero"); },
     "/dev/zero: not a regular file"},
    {"Directory", [](const std::string& folder) { return folder; }, "a directory, not a file"},
    {"OverlappingRecords",
     [](const std::string& folder) {
         const std::string path = folder + "/overlap.hex";
         std::ofstream(path) << Overlapping;
         return path;
     },
     "overlap.hex: records write address 000008 twice, with different bytes"},
    {"LargerThanTheSector",
     [](const std::string& folder) {
         // 0x30000 bytes a sector on the default network: one record beyond it.
         const std::string path = folder + "/large.hex";
         std::ofstream(path) << ":020000040003F7\n:0100000055AA\n:00000001FF\n";
         return path;
     },
     "sector #2 holds 030000 bytes"},
};

class HostileFiles : public testing::TestWithParam<HostileFile> {};

// A file that cannot be written whole is refused at once, by name, and the node is not
// touched: not stopped, not put into download mode, not erased.
TEST_P(HostileFiles, AreRefusedBeforeTheNodeIsTouched) {
    SimulatedCanopen simulated;
    QTemporaryDir folder;
    // The node's folder as its first use leaves it.
    ASSERT_EQ(flash("list --bus c --yes").status, 0);
    const std::string before = nodeFolder(simulated.NetworkFolder());
    const std::string path = GetParam().make(folder.path().toStdString());

    const FlashResult result =
        flash("update --bus c --node 3 --password 1A2B --yes --force --json - " + path);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    EXPECT_EQ(text(records(result)[0].toObject()["result"]), "failed");
    EXPECT_EQ(nodeFolder(simulated.NetworkFolder()), before);
}

INSTANTIATE_TEST_SUITE_P(Files, HostileFiles, testing::ValuesIn(HostileFileRows),
                         [](const testing::TestParamInfo<HostileFile>& info) {
                             return std::string(info.param.name);
                         });

// --skip-identical leaves a node only when it runs the file. Each row prepares a node that
// holds the file without running it; the rerun with --skip-identical gives it the rest of the
// update and reports it updated, or starts the program it holds stopped: it runs the file.
struct SkipRow {
    const char* name;
    const char* network; // the CANopen network's nodes
    const char* command; // the file is appended
    bool program;        // a 302-3 program download, else a firmware update
    std::function<void(const std::string& folder)> prepare; // after the first run
    long long bytesAgain; // what the rerun writes: -1 any, more than none
    const char* result;   // what the rerun reports
};

// Sector 2's stored checksum replaced with one that does not match its bytes, as a node
// with another checksum rule holds it; the node is left in download mode, where it takes
// the change.
void spoilChecksum(const std::string& folder) {
    ASSERT_EQ(flash("sectors --bus c --node 3 --password 1A2B --yes").status, 0);
    sim::NodeNetwork network(folder);
    std::vector<sim::CanopenNodeSettings> nodes;
    std::string error;
    ASSERT_TRUE(sim::ParseCanopenNetwork(SimulatedCanopen::Network, folder + "/network.ini", &nodes,
                                         &error))
        << error;
    for (const auto& node : nodes)
        if (node.nodeId == 3)
            network.Add(3, node.flash);
    sim::FlashNode* node = network.Node(3, &error);
    ASSERT_NE(node, nullptr) << error;
    std::uint32_t stored = 0;
    ASSERT_EQ(node->StoredChecksum(2, &stored).error, sim::NodeError::None);
    ASSERT_EQ(node->SetStoredChecksum(2, stored + 1).error, sim::NodeError::None);
}

const SkipRow SkipRows[] = {
    {"LoaderBootedOverAWholeSector2", SimulatedCanopen::Network,
     "update --bus c --node 3 --password 1A2B", false,
     [](const std::string&) {
         ASSERT_EQ(flash("boot --bus c --node 3 --sector 0 --password 1A2B --yes --force").status,
                   0);
     },
     0, "updated"},
    {"ChecksumNotMatchingItsBytes", SimulatedCanopen::Network,
     "update --bus c --node 3 --password 1A2B", false, spoilChecksum, -1, "updated"},
    // Program 2 is stored and, in the network switched on afresh for the next run, stopped:
    // the node starts only its first program.
    {"ProgramStoredButStopped", "[node 20]\nprofile=302-3\nprograms=2\nprogram_size=131072\n",
     "program --bus c --node 20 --program 2", true, [](const std::string&) {}, 0, "started"},
};

void PrintTo(const SkipRow& row, std::ostream* out) {
    *out << row.name;
}

class SkipIdentical : public testing::TestWithParam<SkipRow> {};

TEST_P(SkipIdentical, NeverSkipsANodeThatDoesNotRunTheFile) {
    const SkipRow& row = GetParam();
    SimulatedCanopen simulated(row.network);
    ScopedEnvironment wire("ZANDREL_SIM_WIRE", nullptr); // frames take their time, as users meet it
    const std::string command =
        std::string(row.command) + " --yes --skip-identical --json - " + CanopenApp;
    const FlashResult first = flash(command);
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(text(records(first)[0].toObject()["result"]), "updated") << first.err;
    if (!row.program) {
        const FlashResult skipped = flash(command);
        ASSERT_EQ(text(records(skipped)[0].toObject()["result"]), "skipped") << skipped.err;
    }

    row.prepare(simulated.NetworkFolder());
    const FlashResult rest = flash(command);
    EXPECT_EQ(rest.status, 0) << rest.err;
    const QJsonObject record = records(rest)[0].toObject();
    EXPECT_EQ(text(record["result"]), row.result) << text(record["message"]);
    if (row.bytesAgain >= 0)
        EXPECT_EQ(record["bytes"].toInteger(), row.bytesAgain);
    else
        EXPECT_GT(record["bytes"].toInteger(), 0);
    if (!row.program) {
        // Now it runs the file, and the next run leaves it.
        EXPECT_EQ(text(records(flash(command))[0].toObject()["result"]), "skipped");
        const fieldnode::SectorContent sector = fieldnode::ReadSector(
            fieldnode::Bus::Canopen, SimulatedCanopen::Network, simulated.NetworkFolder(), 2);
        EXPECT_EQ(sector.bootSector, 2);
        EXPECT_TRUE(sector.checksumMatches);
        EXPECT_EQ(text(record["after"].toObject()["revision"]), "1.6");
    }
}

INSTANTIATE_TEST_SUITE_P(NodeStates, SkipIdentical, testing::ValuesIn(SkipRows),
                         [](const testing::TestParamInfo<SkipRow>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
