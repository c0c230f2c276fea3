// zandrel-flash program: standard program download into CANopen nodes of the embedded
// simulated network, over the real driver library, with the nodes' own flash time.

#include "FlashHarness.h"
#include "IntelHexWriter.h"
#include "ProgramImage.h"
#include "SimulatedCanopen.h"

#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

namespace {

class ProgramTool : public testing::Test {
protected:
    // A raw program of the given size.
    std::string Binary(std::size_t size) {
        std::vector<char> bytes(size);
        std::mt19937 random(7);
        for (char& b : bytes)
            b = static_cast<char>(random());
        const std::string path =
            folder.path().toStdString() + "/program-" + std::to_string(size) + ".bin";
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(size));
        return path;
    }
    // An Intel HEX program of the given size whose records start at 0x8000, with a gap of
    // 32 bytes (erased flash) in the middle.
    std::string Hex(std::size_t size) {
        std::vector<std::uint8_t> image(size);
        for (std::size_t i = 0; i < size; ++i)
            image[i] = static_cast<std::uint8_t>(i * 13 + 5);
        const std::size_t half = size / 2;
        const std::vector<std::uint8_t> first(image.begin(), image.begin() + half);
        const std::vector<std::uint8_t> second(image.begin() + half + 32, image.end());
        std::string text = IntelHexText(first, 0x8000, 32);
        text.resize(text.rfind(":00000001FF")); // the first part's end record
        text += IntelHexText(second, 0x8000 + half + 32, 32);
        const std::string path = folder.path().toStdString() + "/program.hex";
        std::ofstream(path) << text;
        return path;
    }
    static std::string Crc(const std::string& path) {
        ProgramImage image;
        std::string error;
        EXPECT_TRUE(ReadProgramImage(path, &image, &error)) << error;
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(image.crc));
        return text;
    }

    SimulatedCanopen simulated{SimulatedCanopen::StandardNodes};
    QTemporaryDir folder;
};

TEST_F(ProgramTool, WritesEachNodeByBlockOrSegmentsThenSkipsThemWhenTheyRunTheFile) {
    // An Intel HEX file: the binary it stands for, gap erased, is what goes over the bus.
    const std::string hex = Hex(9000);
    const std::string command = "program --bus c --node 20,21 --yes --json - " + hex;
    const FlashResult first = flash(command);
    EXPECT_EQ(first.status, 0) << first.err;
    const QJsonArray written = records(first);
    ASSERT_EQ(written.size(), 2) << first.out;
    const char* const transfers[] = {"block", "segmented"};
    for (int i = 0; i < 2; ++i) {
        const QJsonObject record = written[i].toObject();
        SCOPED_TRACE(record["node"].toInt());
        EXPECT_EQ(text(record["result"]), "updated") << text(record["message"]);
        EXPECT_EQ(record["program"].toInt(), 1);
        EXPECT_FALSE(record.contains("sector"));
        EXPECT_EQ(text(record["file"]), hex);
        EXPECT_EQ(text(record["crc"]), Crc(hex));
        EXPECT_EQ(text(record["transfer"]), transfers[i]);
        EXPECT_EQ(record["bytes"].toInteger(), 9000);
        EXPECT_EQ(text(record["before"].toObject()["serial_number"]),
                  text(record["after"].toObject()["serial_number"]));
    }

    const FlashResult second = flash(command + " --skip-identical");
    EXPECT_EQ(second.status, 0) << second.err;
    for (const QJsonValue& record : records(second)) {
        EXPECT_EQ(text(record.toObject()["result"]), "skipped")
            << text(record.toObject()["message"]);
        EXPECT_EQ(record.toObject()["bytes"].toInteger(), 0);
    }

    // Another file is written again, skip or not.
    const FlashResult other =
        flash("program --bus c --node 20 --yes --skip-identical --json - " + Binary(40000));
    EXPECT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(text(records(other)[0].toObject()["result"]), "updated");
}

TEST_F(ProgramTool, AFlashErrorIsNamedAndOnlyThatNodeFails) {
    const FlashResult result =
        flash("program --bus c --node 22,20 --yes --json - " + Binary(30000));
    EXPECT_EQ(result.status, 1);
    const QJsonArray nodes = records(result);
    ASSERT_EQ(nodes.size(), 2) << result.out;
    EXPECT_EQ(text(nodes[0].toObject()["result"]), "failed");
    EXPECT_NE(text(nodes[0].toObject()["message"]).find("flash write error"), std::string::npos)
        << text(nodes[0].toObject()["message"]);
    EXPECT_EQ(text(nodes[1].toObject()["result"]), "updated")
        << text(nodes[1].toObject()["message"]);
}

TEST_F(ProgramTool, RefusesWhatItCannotWriteRight) {
    const struct {
        const char* what;
        std::string command;
        int status;
        const char* message; // in the report's message, or on standard error
    } cases[] = {
        {"a node with the firmware objects",
         "program --bus c --node 3 --yes --json - " + Binary(1000), 1,
         "no standard program download"},
        {"a program larger than the node's room",
         "program --bus c --node 20 --yes --json - " + Binary(131073), 1,
         "does not fit program 1, whose room is 131072 bytes. Nothing was sent"},
        {"a program the node does not have",
         "program --bus c --node 20 --program 2 --yes --json - " + Binary(1000), 1, "no program 2"},
        {"a DeviceNet bus", "program --bus d --node 3 --yes x.bin", 2, "for CANopen"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const FlashResult result = flash(c.command);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_NE((result.out + result.err).find(c.message), std::string::npos)
            << result.out << result.err;
    }
}

// Ctrl-C in the middle of the transfer: the node is reported failed and the run returns with
// its download thread ended.
TEST_F(ProgramTool, CtrlCStopsTheTransfer) {
    unsetenv("ZANDREL_SIM_WIRE"); // frames at the bus's pace, so that the transfer takes a while
    FlashObserver observer;
    int interrupts = 0;
    observer.progress = [&](std::uint8_t, int, bool) {
        if (interrupts++ == 0)
            std::raise(SIGINT);
    };
    const FlashResult result =
        flash("program --bus c --node 20 --yes --json - " + Binary(131072), observer);
    EXPECT_EQ(result.status, 1) << result.err;
    ASSERT_GT(interrupts, 0) << "the download ended before its progress was shown";
    const QJsonObject record = records(result)[0].toObject();
    EXPECT_EQ(text(record["result"]), "failed");
    EXPECT_NE(text(record["message"]).find("interrupted"), std::string::npos)
        << text(record["message"]);
}

} // namespace
