// A node's flash on disk: damaged folders, failed writes, crashes and a second process.

#include "FirmwareImage.h"
#include "FlashNode.h"
#include "FolderLock.h"
#include "StateFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using sim::FlashNode;
using sim::NodeError;

constexpr std::uint32_t SectorSize = 0x10000;

sim::FlashNodeSettings nodeSettings() {
    sim::FlashNodeSettings s;
    s.sectorSizes = {SectorSize, SectorSize, SectorSize};
    s.restartMilliseconds = 0;
    return s;
}

std::vector<std::uint8_t> image(const char* name, std::uint32_t revision, std::size_t size) {
    return sim::MakeFirmwareImage({name, "Test image", "Jan 01 2026", "12:00:00", revision}, size);
}

const std::vector<std::uint8_t> Loader = image("Loader", 0x00010000, 2048);
const std::vector<std::uint8_t> FactoryApp = image("App", 0x00020000, 4096);
const std::vector<std::uint8_t> NewApp = image("App", 0x00030000, SectorSize);

// The node as it leaves the factory: a loader in sector 0, an application in sector 1 that it
// boots and runs, sector 2 empty.
std::unique_ptr<FlashNode> factoryNode(sim::FlashNodeSettings settings = nodeSettings()) {
    auto node = std::make_unique<FlashNode>(std::move(settings));
    node->SetSector(0, Loader, true);
    node->SetSector(1, FactoryApp, true);
    node->SetRunState(FlashNode::Mode::Application, 1, 1);
    return node;
}

// Erases a sector and writes the image into it in 32-byte blocks; then the checksum.
void flash(FlashNode& node, std::uint8_t sector, const std::vector<std::uint8_t>& bytes,
           const std::function<void()>& afterBlock = {}) {
    ASSERT_TRUE(node.Erase(sector));
    for (std::size_t at = 0; at < bytes.size(); at += 32) {
        ASSERT_TRUE(node.Write(sector, static_cast<std::uint32_t>(at), bytes.data() + at,
                               std::min<std::size_t>(32, bytes.size() - at)));
        if (afterBlock)
            afterBlock();
    }
    ASSERT_TRUE(node.SetStoredChecksum(sector, node.ComputedChecksum(sector)));
}

std::vector<std::uint8_t> sectorBytes(const FlashNode& node, std::uint8_t sector) {
    std::vector<std::uint8_t> bytes(node.Settings().sectorSizes.at(sector));
    EXPECT_TRUE(node.Read(sector, 0, bytes.data(), bytes.size()));
    return bytes;
}

// Everything a user of the node can see of it, in a line.
std::string describe(const FlashNode& node) {
    std::ostringstream out;
    out << "mode=" << static_cast<int>(node.CurrentMode()) << " running=" << +node.RunningSector()
        << " boot=" << +node.BootSector() << " serial=" << node.SerialNumber();
    for (std::uint8_t s = 0; s < node.SectorCount(); ++s) {
        std::uint32_t checksum = 0;
        EXPECT_TRUE(node.StoredChecksum(s, &checksum));
        std::uint64_t hash = 1469598103934665603u;
        for (std::uint8_t b : sectorBytes(node, s))
            hash = (hash ^ b) * 1099511628211u;
        out << " checksum" << +s << "=" << checksum << " flash" << +s << "=" << hash;
    }
    return out.str();
}

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void putContents(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class NodeFolderTest : public testing::Test {
public:
    void TearDown() override { sim::FailStorageWritesFrom(0); }

    // A node served from the folder; the test fails when it cannot be.
    std::unique_ptr<FlashNode> open(sim::FlashNodeSettings settings = nodeSettings()) {
        auto node = factoryNode(std::move(settings));
        std::string error;
        EXPECT_TRUE(node->AttachStateFolder(path, &error)) << error;
        return node;
    }
    // A node that is no longer as it left the factory: a new application in sector 2, which
    // it boots and runs, and a serial number of its own.
    void storeFlashedNode() {
        auto node = open();
        ASSERT_TRUE(node->EnterDownloadMode(0x1A2B));
        flash(*node, 2, NewApp);
        ASSERT_TRUE(node->SetBootSector(2));
        ASSERT_TRUE(node->SetSerialNumber(4711));
        ASSERT_TRUE(node->Reset());
        flashed = describe(*node);
    }
    // A node of the first layout: the loader in sector 0, NewApp in sector 2, which it boots
    // and runs. Returns its sectors.
    std::vector<std::vector<std::uint8_t>> storeFirstLayoutNode() {
        QDir().mkpath(QString::fromStdString(path));
        std::vector<std::vector<std::uint8_t>> sectors(3);
        for (auto& s : sectors)
            s.assign(SectorSize, 0xFF);
        std::copy(Loader.begin(), Loader.end(), sectors[0].begin());
        std::copy(NewApp.begin(), NewApp.end(), sectors[2].begin());
        const sim::ChecksumRule rule;
        for (int s = 0; s < 3; ++s)
            putContents(path + "/sector" + std::to_string(s) + ".bin",
                        std::string(sectors[s].begin(), sectors[s].end()));
        putContents(path + "/node.state",
                    "# State of a simulated flash node; rewritten at every change.\nmode=1\n"
                    "running=2\nboot=2\nchecksum0=" +
                        std::to_string(rule.Sum(sectors[0].data(), SectorSize)) +
                        "\nchecksum1=4294967295\nchecksum2=" +
                        std::to_string(rule.Sum(sectors[2].data(), SectorSize)) + "\n");
        return sectors;
    }
    QStringList asideFolders() const {
        return QDir(root.path()).entryList({"node.damaged-*"}, QDir::Dirs);
    }

    QTemporaryDir root;
    const std::string path = root.path().toStdString() + "/node";
    std::string flashed;
    const std::string factory = describe(*factoryNode());
};

TEST_F(NodeFolderTest, AFlashedNodeComesBackAsItWasLeft) {
    storeFlashedNode();
    auto node = open();
    EXPECT_EQ(describe(*node), flashed);
    EXPECT_EQ(node->RunningSector(), 2);
    EXPECT_EQ(node->SerialNumber(), 4711u);
}

// Each sector file holds the flash inverted, so that erased flash is a hole of zeros.
TEST_F(NodeFolderTest, SectorFilesHoldTheFlashInverted) {
    storeFlashedNode();
    const std::string stored = contents(path + "/sector2.flash");
    ASSERT_EQ(stored.size(), SectorSize);
    EXPECT_EQ(static_cast<std::uint8_t>(stored[0]), static_cast<std::uint8_t>(~NewApp[0]));
    EXPECT_EQ(contents(path + "/sector1.flash").substr(FactoryApp.size()),
              std::string(SectorSize - FactoryApp.size(), '\0'));
}

struct Damage {
    const char* what;
    std::function<void(const std::string& folder)> apply;
    std::vector<std::uint32_t> geometry = {SectorSize, SectorSize, SectorSize};
    const char* says = ""; // a part of the line on standard error
};

// Makes the file size bytes long, a hole past what it held: it costs the disk nothing.
void resize(const std::string& file, std::uintmax_t size) {
    std::filesystem::resize_file(file, size);
}

std::function<void(const std::string&)> replaceLine(const std::string& key,
                                                    const std::string& line) {
    return [=](const std::string& folder) {
        std::istringstream in(contents(folder + "/node.state"));
        std::string text, l;
        while (std::getline(in, l)) {
            if (l.rfind(key + "=", 0) != 0)
                text += l + "\n";
            else if (!line.empty())
                text += line + "\n";
        }
        putContents(folder + "/node.state", text);
    };
}

// A folder that cannot be used whole is set aside, and the node starts as it left the
// factory: never the state of one start with the flash or values of another.
TEST_F(NodeFolderTest, ADamagedFolderIsSetAsideAndTheNodeStartsFromTheFactory) {
    const std::vector<Damage> damages = {
        {"an empty state file",
         [](const std::string& f) {
             putContents(f + "/node.state", "");
         }},
        {"mode=x", replaceLine("mode", "mode=x")},
        {"running out of range", replaceLine("running", "running=3")},
        {"boot=zz", replaceLine("boot", "boot=zz")},
        {"checksum2=zz", replaceLine("checksum2", "checksum2=zz")},
        {"a checksum too large", replaceLine("checksum0", "checksum0=0x100000000")},
        {"a negative serial number", replaceLine("serial_number", "serial_number=-1")},
        {"an unknown format", replaceLine("format", "format=7")},
        {"a missing checksum", replaceLine("checksum1", "")},
        {"an unknown key", replaceLine("boot", "boot=2\ncolour=blue")},
        {"a line that is not key=value", replaceLine("boot", "boot=2\ngarbage")},
        {"a geometry header that does not fit", replaceLine("geometry", "geometry=65536,65536")},
        {"a truncated sector file",
         [](const std::string& f) {
             putContents(f + "/sector2.flash", "short");
         }},
        {"a missing sector file",
         [](const std::string& f) {
             std::remove((f + "/sector0.flash").c_str());
         }},
        {"a missing state file beside its sectors",
         [](const std::string& f) {
             std::remove((f + "/node.state").c_str());
         }},
        {"a node of another geometry",
         [](const std::string&) {},
         {SectorSize, SectorSize, 2 * SectorSize}},
        // Never read into memory: the size is known before a byte is read.
        {"a sector file of a GiB",
         [](const std::string& f) { resize(f + "/sector2.flash", std::uintmax_t{1} << 30); },
         {SectorSize, SectorSize, SectorSize},
         "sector2.flash holds 1073741824 bytes, more than 65536"},
        {"a node.state of more than 256 KiB",
         [](const std::string& f) {
             putContents(f + "/node.state",
                         contents(f + "/node.state") + std::string(300 * 1024, '#') + "\n");
         },
         {SectorSize, SectorSize, SectorSize},
         "node.state holds"},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        QDir(root.path()).removeRecursively();
        QDir().mkpath(root.path());
        storeFlashedNode();
        damage.apply(path);
        const std::string damagedState = contents(path + "/node.state");

        auto settings = nodeSettings();
        settings.sectorSizes = damage.geometry;
        testing::internal::CaptureStderr();
        auto node = open(settings);
        const std::string said = testing::internal::GetCapturedStderr();

        EXPECT_EQ(describe(*node), describe(*factoryNode(settings)));
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_NE(said.find(path), std::string::npos) << said;
        EXPECT_NE(said.find(damage.says), std::string::npos) << said;
        const QStringList aside = asideFolders();
        ASSERT_EQ(aside.size(), 1);
        EXPECT_NE(said.find(aside[0].toStdString()), std::string::npos) << said;
        // What was there is kept as it was, for the user to look at.
        const std::string kept = root.path().toStdString() + "/" + aside[0].toStdString();
        EXPECT_EQ(contents(kept + "/node.state"), damagedState);

        // The factory state was stored: the next start reads it without a word.
        node.reset();
        testing::internal::CaptureStderr();
        auto again = open(settings);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(describe(*again), describe(*factoryNode(settings)));
    }
}

// While a damaged folder is set aside, its name always stands for a folder this process
// holds: the damaged one until it moves, then the new one, locked before anything moved.
TEST_F(NodeFolderTest, ADamagedFolderMovesAsideOnlyOnceItsNewPlaceIsHeld) {
    storeFlashedNode();
    putContents(path + "/node.state", "");
    std::vector<std::string> unheld;
    sim::SetStorageStepHook([&](const char* step) {
        std::string error;
        if (sim::FolderLock::Take(path, &error) || error.find("in use") == std::string::npos)
            unheld.push_back(std::string(step) + ": " + error);
        return true;
    });
    testing::internal::CaptureStderr();
    auto node = open();
    testing::internal::GetCapturedStderr();
    sim::SetStorageStepHook({});
    EXPECT_EQ(unheld, std::vector<std::string>{});
    EXPECT_EQ(asideFolders().size(), 1);
    EXPECT_EQ(describe(*node), factory);
}

// A change that cannot be stored is refused, and the node stays as a restart would find it:
// as before the operation when nothing was stored, never ahead of its folder.
TEST_F(NodeFolderTest, AChangeThatCannotBeStoredIsRefused) {
    struct Operation {
        const char* what;
        std::function<sim::NodeResult(FlashNode&)> run;
    };
    const std::uint8_t block[] = {0x00, 0x00, 0x00}; // clears bits wherever it goes
    const std::vector<Operation> operations = {
        {"write",
         [&](FlashNode& n) {
             return n.Write(2, 64, block, 3);
         }},
        {"erase",
         [](FlashNode& n) {
             return n.Erase(1);
         }},
        {"erase of the boot sector",
         [](FlashNode& n) {
             return n.Erase(2);
         }},
        {"checksum",
         [](FlashNode& n) {
             return n.SetStoredChecksum(1, 0x1234);
         }},
        {"boot sector",
         [](FlashNode& n) {
             return n.SetBootSector(0);
         }},
        {"serial number",
         [](FlashNode& n) {
             return n.SetSerialNumber(99);
         }},
        {"enter download mode",
         [](FlashNode& n) {
             return n.EnterDownloadMode(0x1A2B);
         }},
        {"reset",
         [](FlashNode& n) {
             return n.Reset();
         }},
        {"execute",
         [](FlashNode& n) {
             return n.Execute(1);
         }},
    };
    for (const Operation& operation : operations)
        for (int failing : {1, 2}) {
            SCOPED_TRACE(std::string(operation.what) + ", failing from write " +
                         std::to_string(failing));
            QDir(root.path()).removeRecursively();
            QDir().mkpath(root.path());
            storeFlashedNode();
            auto node = open();
            ASSERT_TRUE(node->EnterDownloadMode(0x1A2B));
            const std::string before = describe(*node);

            sim::FailStorageWritesFrom(failing);
            const sim::NodeResult result = operation.run(*node);
            sim::FailStorageWritesFrom(0);
            const std::string after = describe(*node);
            node.reset();
            const std::string stored = describe(*open());

            if (result) {
                // Done with a single write: then it is stored.
                EXPECT_EQ(failing, 2);
                EXPECT_EQ(after, stored);
                continue;
            }
            EXPECT_EQ(result.error, NodeError::StorageFailed);
            EXPECT_EQ(after, stored) << "the node is ahead of, or behind, its folder";
            if (failing == 1) {
                EXPECT_EQ(after, before);
            }
        }
}

// --- A process killed, or a disk full, at any storage step --------------------------------

// What a node keeps of one sector and its boot sector.
struct SectorRecord {
    std::vector<std::uint8_t> bytes;
    std::uint32_t checksum = 0;
    std::uint8_t boot = 0;
};

SectorRecord recordOf(const FlashNode& node, std::uint8_t sector) {
    SectorRecord record{sectorBytes(node, sector), 0, node.BootSector()};
    EXPECT_TRUE(node.StoredChecksum(sector, &record.checksum));
    return record;
}

// Bytes that a download of image into an erased sector may have left: a part of the image
// from its start, then erased flash.
bool partOfADownload(const std::vector<std::uint8_t>& bytes,
                     const std::vector<std::uint8_t>& image) {
    std::size_t written = 0;
    while (written < image.size() && bytes[written] == image[written])
        ++written;
    return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(written), bytes.end(),
                       [](std::uint8_t b) { return b == 0xFF; });
}

struct Killed {};

// Stops a sequence at a storage step, as a killed process or a full disk would.
enum class Stop { Kill, DiskFull };

// A step stopped in any operation of an erase or a download leaves, after a restart, a sector
// whose stored checksum and boot sector agree with its bytes: the old bytes with their
// checksum and boot sector, or no checksum and the loader booting in place of the sector
// (whatever the bytes), or the new image with its own checksum.
TEST_F(NodeFolderTest, AStepStoppedInAnEraseOrADownloadLeavesChecksumAndBootSectorTrue) {
    const std::vector<std::uint8_t> image = ::image("App", 0x00040000, 256);
    struct Sequence {
        const char* what;
        std::uint8_t sector;
        bool download;
    };
    const std::vector<Sequence> sequences = {
        {"erase of a sector with a checksum", 1, false},
        {"erase of the boot sector", 2, false},
        {"download into the boot sector", 2, true},
    };
    // Erase, then the image in blocks, its checksum and the sector made the boot sector again.
    const auto run = [&](FlashNode& node, const Sequence& sequence) {
        if (!node.Erase(sequence.sector) || !sequence.download)
            return;
        for (std::size_t at = 0; at < image.size(); at += 32)
            if (!node.Write(sequence.sector, static_cast<std::uint32_t>(at), image.data() + at, 32))
                return;
        if (node.SetStoredChecksum(sequence.sector, node.ComputedChecksum(sequence.sector)))
            (void)node.SetBootSector(sequence.sector);
    };
    storeFlashedNode();
    const std::string flashedFolder = root.path().toStdString() + "/flashed";
    ASSERT_EQ(std::rename(path.c_str(), flashedFolder.c_str()), 0);
    const auto fresh = [&] {
        QDir(QString::fromStdString(path)).removeRecursively();
        std::filesystem::copy(flashedFolder, path);
        auto node = open();
        EXPECT_TRUE(node->EnterDownloadMode(0x1A2B));
        return node;
    };

    for (const Sequence& sequence : sequences) {
        const std::uint8_t s = sequence.sector;
        std::vector<std::uint8_t> downloaded(SectorSize, 0xFF);
        std::copy(image.begin(), image.end(), downloaded.begin());
        const std::uint32_t downloadedChecksum =
            sim::ChecksumRule{}.Sum(downloaded.data(), SectorSize);
        SectorRecord before;
        std::uint64_t steps = 0;
        {
            auto node = fresh();
            before = recordOf(*node, s);
            const auto tally = sim::StorageTallySoFar().steps;
            run(*node, sequence);
            steps = sim::StorageTallySoFar().steps - tally;
        }
        ASSERT_GT(steps, 2u);
        for (Stop stop : {Stop::Kill, Stop::DiskFull})
            for (std::uint64_t step = 1; step <= steps; ++step) {
                SCOPED_TRACE(std::string(sequence.what) +
                             (stop == Stop::Kill ? ", killed" : ", disk full") + " at step " +
                             std::to_string(step));
                {
                    auto node = fresh();
                    std::uint64_t seen = 0;
                    if (stop == Stop::Kill)
                        sim::SetStorageStepHook([&](const char*) {
                            if (++seen == step)
                                throw Killed{};
                            return true;
                        });
                    else
                        sim::FailStorageWritesFrom(static_cast<int>(step));
                    try {
                        run(*node, sequence);
                    } catch (const Killed&) {
                    }
                    sim::SetStorageStepHook({});
                    sim::FailStorageWritesFrom(0);
                }
                testing::internal::CaptureStderr();
                auto node = open();
                EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
                const SectorRecord after = recordOf(*node, s);
                EXPECT_EQ(node->CurrentMode(), FlashNode::Mode::Download);
                EXPECT_EQ(node->SerialNumber(), 4711u);
                const bool unchanged = after.bytes == before.bytes &&
                                       after.checksum == before.checksum &&
                                       after.boot == before.boot;
                const std::uint8_t loaderInstead = before.boot == s ? 0 : before.boot;
                const bool withdrawn =
                    after.checksum == FlashNode::NoChecksum && after.boot == loaderInstead &&
                    (after.bytes == before.bytes || partOfADownload(after.bytes, image));
                const bool done = sequence.download && after.bytes == downloaded &&
                                  after.checksum == downloadedChecksum &&
                                  (after.boot == loaderInstead || after.boot == s);
                EXPECT_TRUE(unchanged || withdrawn || done)
                    << "checksum " << after.checksum << " (before " << before.checksum
                    << "), boot sector " << +after.boot << " (before " << +before.boot
                    << "), bytes as before: " << (after.bytes == before.bytes)
                    << ", erased: " << partOfADownload(after.bytes, {});
            }
    }
}

// A file that cannot be read is a fault of the system, not of the node: the node stays
// offline with the system's reason, and its folder stays where it is, as it was.
class UnreadableFileTest : public NodeFolderTest {
public:
    // Makes the file unreadable with make, opens the node, and takes back make with undo.
    void Check(const std::string& file, const std::function<void(const std::string&)>& make,
               const std::function<void(const std::string&)>& undo, const std::string& says) {
        SCOPED_TRACE(file);
        QDir(root.path()).removeRecursively();
        QDir().mkpath(root.path());
        storeFlashedNode();
        const std::string target = path + "/" + file;
        make(target);
        auto node = factoryNode();
        std::string error;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(node->AttachStateFolder(path, &error));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_FALSE(node->HasStateFolder());
        EXPECT_NE(error.find(target.substr(target.rfind('/') + 1)), std::string::npos) << error;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_NE(error.find(says), std::string::npos) << error;
        EXPECT_TRUE(asideFolders().isEmpty());
        undo(target);
        EXPECT_EQ(describe(*open()), flashed);
    }
};

// A folder in a file's place cannot be read, whoever runs the test.
TEST_F(UnreadableFileTest, AFolderInAFilesPlace) {
    const auto make = [](const std::string& file) {
        ASSERT_EQ(std::rename(file.c_str(), (file + ".kept").c_str()), 0);
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(file + "/in-the-way")));
    };
    const auto undo = [](const std::string& file) {
        ASSERT_TRUE(QDir(QString::fromStdString(file)).removeRecursively());
        ASSERT_EQ(std::rename((file + ".kept").c_str(), file.c_str()), 0);
    };
    for (const char* file : {"node.state", "sector1.flash"})
        Check(file, make, undo, std::strerror(EISDIR));
}

TEST_F(UnreadableFileTest, AFileThatMayNotBeRead) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads whatever the permissions say";
    const auto make = [](const std::string& file) {
        ::chmod(file.c_str(), 0);
    };
    const auto undo = [](const std::string& file) {
        ::chmod(file.c_str(), 0644);
    };
    for (const char* file : {"node.state", "sector2.flash"})
        Check(file, make, undo, std::strerror(EACCES));
}

TEST_F(NodeFolderTest, ANodeWhoseFolderCannotBeMadeOrWrittenStaysOffline) {
    putContents(root.path().toStdString() + "/file", "");
    auto node = factoryNode();
    std::string error;
    EXPECT_FALSE(node->AttachStateFolder(root.path().toStdString() + "/file/node", &error));
    EXPECT_NE(error.find("/file/node"), std::string::npos) << error;
    EXPECT_FALSE(node->HasStateFolder());

    sim::FailStorageWritesFrom(1);
    error.clear();
    EXPECT_FALSE(node->AttachStateFolder(path, &error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
}

// Folders written before the geometry header and the inverted sector files are read as
// they are and brought to the current layout.
TEST_F(NodeFolderTest, AFolderOfTheFirstLayoutIsReadAndBroughtUpToDate) {
    const auto sectors = storeFirstLayoutNode();

    testing::internal::CaptureStderr();
    auto node = open();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(node->CurrentMode(), FlashNode::Mode::Application);
    EXPECT_EQ(node->RunningSector(), 2);
    EXPECT_EQ(node->RunningRevision(), 0x00030000u);
    EXPECT_EQ(sectorBytes(*node, 2), sectors[2]);
    const std::string running = describe(*node);
    node.reset();
    EXPECT_EQ(QDir(QString::fromStdString(path)).entryList({"*.bin"}, QDir::Files).size(), 0);
    EXPECT_EQ(describe(*open()), running);
}

// A node's folder is cleaned of what this program's replacements left, and of nothing else.
TEST_F(NodeFolderTest, OnlyTheNodesOwnTemporariesAreCleanedAway) {
    storeFlashedNode();
    const QStringList ours = {"node.state.zandrel-tmp-Ab12Cd", "sector1.flash.zandrel-tmp-Q1w2E3",
                              "module.ini.zandrel-tmp-zzzzzz"};
    const QStringList others = {"module.ini.backup",
                                "node.state.backup",
                                "node.state.Ab12Cd",
                                "notes.txt.zandrel-tmp-Ab12Cd",
                                "sector1.flash.zandrel-tmp-Ab12C",
                                "sector1.flash.zandrel-tmp-Ab-12C"};
    for (const QString& name : ours + others)
        putContents(path + "/" + name.toStdString(), "kept?\n");
    auto node = open();
    EXPECT_EQ(describe(*node), flashed);
    const QStringList left = QDir(QString::fromStdString(path)).entryList(QDir::Files);
    for (const QString& name : ours)
        EXPECT_FALSE(left.contains(name)) << name.toStdString();
    for (const QString& name : others)
        EXPECT_TRUE(left.contains(name)) << name.toStdString();
}

// Stopped at any step of a new node's first save, or of the conversion of a folder of the
// first layout, the folder is taken up again at the next start: never set aside, and with
// nothing left over of the step's files.
TEST_F(NodeFolderTest, AStepStoppedInAFirstSaveOrAConversionLeavesNothingBehind) {
    struct Start {
        const char* what;
        std::function<void()> store;
    };
    const std::vector<Start> starts = {
        {"a new node",
         [] {
         }},
        {"a folder of the first layout",
         [&] {
             storeFirstLayoutNode();
         }},
    };
    for (const Start& start : starts) {
        QDir(root.path()).removeRecursively();
        QDir().mkpath(root.path());
        start.store();
        std::string expected;
        std::uint64_t steps = 0;
        {
            const auto tally = sim::StorageTallySoFar().steps;
            expected = describe(*open());
            steps = sim::StorageTallySoFar().steps - tally;
        }
        ASSERT_GT(steps, 3u);
        for (std::uint64_t step = 1; step <= steps; ++step) {
            SCOPED_TRACE(std::string(start.what) + ", killed at step " + std::to_string(step));
            QDir(root.path()).removeRecursively();
            QDir().mkpath(root.path());
            start.store();
            std::uint64_t seen = 0;
            sim::SetStorageStepHook([&](const char*) {
                if (++seen == step)
                    throw Killed{};
                return true;
            });
            try {
                auto node = factoryNode();
                (void)node->AttachStateFolder(path);
            } catch (const Killed&) {
            }
            sim::SetStorageStepHook({});
            testing::internal::CaptureStderr();
            auto node = open();
            EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
            EXPECT_EQ(describe(*node), expected);
            node.reset();
            EXPECT_TRUE(asideFolders().isEmpty());
            EXPECT_EQ(QDir(QString::fromStdString(path))
                          .entryList({"*.zandrel-tmp-*", "*.bin", "node.unfinished"}, QDir::Files),
                      QStringList{});
        }
    }
}

// --- Other processes -------------------------------------------------------------------------

// A child process: this test program started again with ZANDREL_NODE_CHILD set. It does its
// part before main and never reaches the tests.
//   hold:<fd>:<folder>      serves the node and says 'r' on fd, then waits to be killed
//   download:<fd>:<folder>  says 'r', erases sector 2 ('e'), writes NewApp into it block by
//                           block ('b' after each) and its checksum ('c'), then waits
int runChild(const std::string& role) {
    const auto first = role.find(':'), second = role.find(':', first + 1);
    const int fd = std::atoi(role.substr(first + 1, second - first - 1).c_str());
    const std::string folder = role.substr(second + 1);
    const auto say = [fd](char c) {
        return ::write(fd, &c, 1) == 1;
    };
    auto node = factoryNode();
    if (!node->AttachStateFolder(folder))
        return 2;
    if (role.rfind("download", 0) == 0) {
        if (!node->EnterDownloadMode(0x1A2B) || !say('r') || !node->Erase(2) || !say('e'))
            return 3;
        for (std::size_t at = 0; at < NewApp.size(); at += 32)
            if (!node->Write(2, static_cast<std::uint32_t>(at), NewApp.data() + at, 32) ||
                !say('b'))
                return 4;
        if (!node->SetStoredChecksum(2, node->ComputedChecksum(2)) || !say('c'))
            return 5;
    } else if (!say('r')) {
        return 3;
    }
    for (;;)
        ::pause();
}

const bool IsChild = [] {
    if (const char* role = std::getenv("ZANDREL_NODE_CHILD"))
        std::_Exit(runChild(role));
    return false;
}();

class ChildProcess {
public:
    ChildProcess(const std::string& role, const std::string& folder) {
        int ends[2];
        EXPECT_EQ(::pipe(ends), 0);
        from_ = ends[0];
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            env.emplace_back(*e);
        env.push_back("ZANDREL_NODE_CHILD=" + role + ":" + std::to_string(ends[1]) + ":" + folder);
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        char self[] = "/proc/self/exe";
        char* argv[] = {self, nullptr};
        EXPECT_EQ(::posix_spawn(&pid_, self, nullptr, nullptr, argv, envp.data()), 0);
        ::close(ends[1]);
    }
    ~ChildProcess() {
        Kill();
        ::close(from_);
    }
    // What the child said, up to n letters; fewer when it ended.
    std::string Read(std::size_t n) {
        std::string said;
        char c;
        while (said.size() < n && ::read(from_, &c, 1) == 1)
            said += c;
        return said;
    }
    void Kill() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int from_ = -1;
};

TEST_F(NodeFolderTest, ASecondProcessIsRefusedTheNodesFolder) {
    storeFlashedNode();
    ChildProcess child("hold", path);
    ASSERT_EQ(child.Read(1), "r");
    auto node = factoryNode();
    std::string error;
    EXPECT_FALSE(node->AttachStateFolder(path, &error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_NE(error.find("another process"), std::string::npos) << error;
    child.Kill(); // the lock goes with the process
    EXPECT_TRUE(node->AttachStateFolder(path, &error)) << error;
    EXPECT_EQ(describe(*node), flashed);
}

// The lock is held on a file beside the folder, opened for writing, as a lock on NFS must be;
// a second object of the same process is refused as such, however the folder is named.
TEST_F(NodeFolderTest, TheLockIsOnAFileBesideTheFolderOpenedForWriting) {
    auto node = open();
    std::string flags, locks;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ignored;
        if (std::filesystem::read_symlink(entry.path(), ignored) != path + ".lock")
            continue;
        std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
        for (std::string line; std::getline(info, line);)
            if (line.rfind("flags:", 0) == 0)
                flags = line;
            else if (line.rfind("lock:", 0) == 0)
                locks += line;
    }
    ASSERT_FALSE(flags.empty()) << "no lock file is open";
    const long accessMode = std::strtol(flags.substr(6).c_str(), nullptr, 8) & O_ACCMODE;
    EXPECT_TRUE(accessMode == O_RDWR || accessMode == O_WRONLY) << flags;
    EXPECT_NE(locks.find("FLOCK"), std::string::npos) << locks;

    for (const std::string& name : {path, path + "/", root.path().toStdString() + "/./node"}) {
        auto second = factoryNode();
        std::string error;
        EXPECT_FALSE(second->AttachStateFolder(name, &error));
        EXPECT_NE(error.find(name + " is in use in this process"), std::string::npos) << error;
    }
}

// Killed at any moment of a download, the node starts with its folder whole: the sector
// holds the old image with its checksum, or what was written of the new one and no
// checksum, or the new one with its checksum.
TEST_F(NodeFolderTest, AProcessKilledDuringADownloadLeavesACoherentNode) {
    const std::size_t blocks = NewApp.size() / 32;
    for (std::size_t heard : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{50},
                              blocks / 2, blocks + 1, blocks + 3}) {
        SCOPED_TRACE("killed after " + std::to_string(heard) + " letters");
        QDir(root.path()).removeRecursively();
        QDir().mkpath(root.path());
        storeFlashedNode();
        std::vector<std::uint8_t> before;
        {
            auto node = open();
            ASSERT_TRUE(node->EnterDownloadMode(0x1A2B));
            ASSERT_TRUE(node->Erase(2));
            const std::uint8_t old[] = {0x5A, 0xA5, 0x0F};
            ASSERT_TRUE(node->Write(2, 0, old, 3));
            ASSERT_TRUE(node->SetStoredChecksum(2, node->ComputedChecksum(2)));
            before = sectorBytes(*node, 2);
        }
        {
            ChildProcess child("download", path);
            ASSERT_EQ(child.Read(heard).size(), heard);
            child.Kill();
        }
        testing::internal::CaptureStderr();
        auto node = open();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        const auto bytes = sectorBytes(*node, 2);
        bool checksumOk = false;
        ASSERT_TRUE(node->ChecksumMatches(2, &checksumOk));
        if (bytes == before) {
            EXPECT_TRUE(checksumOk);
            continue;
        }
        std::size_t written = 0;
        while (written < NewApp.size() && bytes[written] == NewApp[written])
            ++written;
        EXPECT_TRUE(std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(written), bytes.end(),
                                [](std::uint8_t b) { return b == 0xFF; }))
            << "written up to " << written;
        if (heard > 2) { // 'r', 'e', then a letter after each block
            EXPECT_GE(written, std::min((heard - 2) * 32, NewApp.size()));
        }
        EXPECT_EQ(checksumOk, written == NewApp.size() && node->Runnable(2));
    }
}

} // namespace
