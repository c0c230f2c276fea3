// What zandrel-flash program decides from what the node tells of a program — its state
// (0x1F51), its identification (0x1F56) — with and without --skip-identical and
// --expect-crc, and what it does when a program does not fit the node's room: end to end over
// the embedded simulated network.

#include "FlashHarness.h"
#include "ScopedEnvironment.h"
#include "SimulatedCanopen.h"

#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

namespace {

std::string programFile(const QTemporaryDir& folder, std::size_t size) {
    std::vector<char> bytes(size);
    std::mt19937 random(11);
    for (char& b : bytes)
        b = static_cast<char>(random());
    const std::string path = folder.path().toStdString() + "/program.bin";
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(size));
    return path;
}

struct DecisionRow {
    const char* name;
    const char* identification; // the node's identification key: crc, or a fixed value
    int program;
    bool writtenBefore; // a run before this one wrote the file (program 1 then runs it,
                        // program 2 holds it stopped: the node starts only program 1)
    const char* options;
    const char* result;
    const char* message; // a part of the report's message
    int verified;        // 1 true, 0 false, -1 null
    bool bytesWritten;
};

void PrintTo(const DecisionRow& row, std::ostream* out) {
    *out << row.name;
}

const DecisionRow DecisionRows[] = {
    {"IdentifiedByCrc", "crc", 1, false, "", "updated", "Program Download Successful", 1, true},
    {"IdentifiedByZero", "0", 1, false, "", "updated",
     "not verified by identification (node reports 0x00000000, file CRC-32 0x", 0, true},
    {"IdentifiedByVersion", "00010002", 1, false, "", "updated",
     "not verified by identification (node reports 0x00010002", 0, true},
    {"VersionWithExpectCrc", "00010002", 1, false, "--expect-crc", "failed",
     "identifies program 1 as 0x00010002, not as the file's CRC-32 0x", -1, false},
    {"ZeroWithExpectCrc", "0", 1, false, "--expect-crc", "failed", "program 1 is left stopped", -1,
     false},
    {"RunsTheFileSkipped", "crc", 1, true, "--skip-identical", "skipped", "runs the file already",
     1, false},
    {"RunsTheFileWrittenAgainWithoutSkip", "crc", 1, true, "", "updated",
     "Program Download Successful", 1, true},
    {"HeldStoppedStarted", "crc", 2, true, "--skip-identical", "started",
     "stopped: started, not written again", 1, false},
    {"HeldStoppedWrittenAgainWithoutSkip", "crc", 2, true, "", "updated",
     "Program Download Successful", 1, true},
    {"UnverifiableNeverSkipped", "0", 1, true, "--skip-identical", "updated",
     "not verified by identification", 0, true},
};

class ProgramDecisions : public testing::TestWithParam<DecisionRow> {};

TEST_P(ProgramDecisions, OutcomeFollowsWhatTheNodeTells) {
    const DecisionRow& row = GetParam();
    SimulatedCanopen simulated(std::string("[node 20]\nprofile=302-3\nprograms=2\n"
                                           "program_size=65536\nidentification=") +
                               row.identification + "\n");
    ScopedEnvironment wire("ZANDREL_SIM_WIRE", nullptr); // frames take their time, as users meet it
    QTemporaryDir folder;
    const std::string file = programFile(folder, 3000);
    const std::string command =
        "program --bus c --node 20 --program " + std::to_string(row.program) + " --yes --json - ";
    if (row.writtenBefore) {
        ASSERT_EQ(flash(command + file).status, 0);
    }

    const FlashResult result = flash(command + row.options + " " + file);
    const QJsonObject record = records(result)[0].toObject();
    EXPECT_EQ(text(record["result"]), row.result) << result.err;
    EXPECT_NE(text(record["message"]).find(row.message), std::string::npos)
        << text(record["message"]);
    EXPECT_EQ(result.status, std::string(row.result) == "failed" ? 1 : 0);
    const QJsonValue verified = record["verified"];
    EXPECT_EQ(verified.isNull() ? -1 : verified.toBool() ? 1 : 0, row.verified);
    EXPECT_EQ(record["bytes"].toInteger() > 0, row.bytesWritten);
}

INSTANTIATE_TEST_SUITE_P(Rows, ProgramDecisions, testing::ValuesIn(DecisionRows),
                         [](const testing::TestParamInfo<DecisionRow>& info) {
                             return std::string(info.param.name);
                         });

// A program larger than the room: refused before anything is sent where the node tells its
// room; where it does not, the node's refusal is told with what it cost.
TEST(ProgramRoom, AProgramTooLargeIsToldWithWhatItCost) {
    const struct {
        const char* roomObject;
        const char* message;
    } cases[] = {
        {"yes", "does not fit program 1, whose room is 4096 bytes. Nothing was sent; program 1 "
                "is as it was."},
        {"no", "Program 1 is stopped and cleared: the node holds no program 1 now."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.roomObject);
        SimulatedCanopen simulated(std::string("[node 20]\nprofile=302-3\nprogram_size=4096\n"
                                               "room_object=") +
                                   c.roomObject + "\n");
        QTemporaryDir folder;
        const FlashResult result =
            flash("program --bus c --node 20 --yes --json - " + programFile(folder, 5000));
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(text(records(result)[0].toObject()["message"]).find(c.message), std::string::npos)
            << result.err;
    }
}

// A node that answers 800 ms late: with the 500 ms time-out it is never heard, and a longer
// one chosen with --sdo-timeout lets the download through.
TEST(ProgramTimeOut, ASlowNodeNeedsALongerTimeOut) {
    const struct {
        const char* options;
        int status;
        const char* message;
    } cases[] = {
        {"", 1, "node 20 is not online"},
        {"--sdo-timeout 1000", 0, "Program Download Successful"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        SimulatedCanopen simulated("[node 20]\nprofile=302-3\nprogram_size=65536\n"
                                   "answer_delay_ms=800\n");
        QTemporaryDir folder;
        const FlashResult result = flash(std::string("program --bus c --node 20 --yes --json - ") +
                                         c.options + " " + programFile(folder, 500));
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_NE(text(records(result)[0].toObject()["message"]).find(c.message), std::string::npos)
            << result.err;
    }
}

// One answer of the node lost on the bus: a single transfer is asked again, and a write of the
// program whose initiate or end goes unanswered starts again from the clear; either way the
// download ends done and verified, the report counting the writes.
TEST(ProgramLostAnswer, IsAskedAgainAndTheDownloadEndsDone) {
    const struct {
        const char* lost; // node 20's answer (CAN-ID 0x594) that the bus loses, once
        int attempts;
    } cases[] = {
        {"594#A4501F01", 2}, // to the block download's initiate of 0x1F50:1
        {"594#A1", 2},       // to the block download's end
        {"594#60511F01", 1}, // to the first write of 0x1F51:1 (stop)
        {"594#43561F01", 1}, // to the first read of 0x1F56:1
        {"594#43571F01", 1}, // to the first read of 0x1F57:1
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lost);
        SimulatedCanopen simulated(std::string("[node 20]\nprofile=302-3\nprogram_size=65536\n"
                                               "[bus]\nlose_once=") +
                                   c.lost + "\n");
        ScopedEnvironment wire("ZANDREL_SIM_WIRE", nullptr);
        QTemporaryDir folder;
        const FlashResult result =
            flash("program --bus c --node 20 --yes --json - " + programFile(folder, 3000));
        const QJsonObject record = records(result)[0].toObject();
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(text(record["result"]), "updated") << text(record["message"]);
        EXPECT_TRUE(record["verified"].toBool());
        EXPECT_EQ(record["attempts"].toInt(), c.attempts);
    }
}

} // namespace
