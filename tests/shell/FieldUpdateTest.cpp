// A standard update through the real windows, the real driver library and the embedded
// simulated network, with nodes and a bus that behave as the field does: slow answers, some
// just past the master's time-out, heartbeats instead of guarding, expedited answers without
// a size, lost and doubled frames. Whatever befalls the frames, an update ends either with
// "Download Successful" and the node's sector holding exactly the file's image, or with an
// error message and no valid checksum over content that differs from the image; never
// success for other content, and never a hang.

#include "EventLoop.h"
#include "FieldNode.h"
#include "FirmwareImage.h"
#include "Form_FW_Download.h"
#include "Form_FW_Download_Main.h"
#include "HandlerRestore.h"
#include "IntelHexWriter.h"
#include "MessageBox.h"
#include "NodeRestartWaits.h"
#include "ScriptedDialogs.h"
#include "SimulatedCanopen.h"
#include "SimulatedDevicenet.h"
#include "StringGrid.h"

#include <QPushButton>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr std::uint8_t Node = 3;
constexpr std::uint8_t Sector = 2;
constexpr std::size_t ImageSize = 1024;

// Answers every message box as a user who wants the update does (Yes to each question, OK
// to each message) and keeps what the boxes said.
class AgreeingUser {
public:
    AgreeingUser() : texts_(std::make_shared<Texts>()) {
        previous_ = SetMessageBoxHandler(Answerer{texts_});
    }
    ~AgreeingUser() {
        RestoreReplacedHandler(
            SetMessageBoxHandler, std::move(previous_),
            [this](const MessageBoxHandler& replaced) {
                const auto* mine = replaced.target<Answerer>();
                return mine && mine->texts == texts_;
            },
            "AgreeingUser");
    }
    AgreeingUser(const AgreeingUser&) = delete;
    AgreeingUser& operator=(const AgreeingUser&) = delete;

    std::vector<std::string> Shown() const {
        std::lock_guard lock(texts_->mutex);
        return texts_->shown;
    }
    bool Saw(const std::string& text) const {
        for (const std::string& shown : Shown())
            if (shown == text)
                return true;
        return false;
    }

private:
    struct Texts {
        std::mutex mutex;
        std::vector<std::string> shown;
    };
    struct Answerer {
        std::shared_ptr<Texts> texts;
        int operator()(const MessageBoxRequest& request) const {
            {
                std::lock_guard lock(texts->mutex);
                texts->shown.push_back(request.text);
            }
            const unsigned buttons = request.flags & 0x0F;
            return buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? IDYES : IDOK;
        }
    };

    std::shared_ptr<Texts> texts_;
    MessageBoxHandler previous_;
};

std::string Joined(const std::vector<std::string>& texts) {
    std::string all;
    for (const std::string& text : texts)
        all += "[" + text + "] ";
    return all;
}

using fieldnode::Bus;

struct FieldCase {
    const char* name;
    Bus bus;
    const char* nodeKeys; // in node 3's section of network.ini
    const char* busSection;
    bool mustSucceed; // the behaviour is no fault: the update goes through
};

void PrintTo(const FieldCase& c, std::ostream* os) {
    *os << c.name;
}

class FieldUpdateTest : public testing::TestWithParam<FieldCase> {
protected:
    std::string networkText(const FieldCase& c) const {
        return fieldnode::NetworkText(c.bus, c.nodeKeys, c.busSection);
    }

    fieldnode::SectorContent readSector(const FieldCase& c, const std::string& networkFolder) {
        return fieldnode::ReadSector(c.bus, networkText(c), networkFolder, Sector);
    }
};

TEST_P(FieldUpdateTest, SucceedsWithTheImageOrFailsWithoutAValidChecksum) {
    const FieldCase& c = GetParam();
    std::unique_ptr<SimulatedCanopen> canopen;
    std::unique_ptr<SimulatedDevicenet> devicenet;
    std::string networkFolder;
    if (c.bus == Bus::Canopen) {
        canopen = std::make_unique<SimulatedCanopen>();
        networkFolder = canopen->NetworkFolder();
    } else {
        devicenet = std::make_unique<SimulatedDevicenet>();
        networkFolder = devicenet->NetworkFolder();
    }
    std::ofstream(networkFolder + "/network.ini") << networkText(c);

    const std::vector<std::uint8_t> image = sim::MakeFirmwareImage(
        {"Field App", "field behaviours", "Dec 10 2026", "12:00:00", 0x00020000}, ImageSize);
    const std::string hexFile = networkFolder + "/../field-app-2.0.hex";
    std::ofstream(hexFile) << IntelHexText(image, 0);

    AgreeingUser user;
    {
        TForm_FW_Download_Main window;
        WaitingSleep sleeps(NodeOfTheUpdate(window));
        window.NodeType = c.bus == Bus::Canopen ? NodeTypeCANopen : NodeTypeDeviceNet;
        window.show();
        TStringGrid* grid = window.AdvStringGrid_NodesOnline;
        window.Button_NetworkStart->click();
        ASSERT_TRUE(ProcessEventsUntil([&] { return grid->Cell(0, 1) == "3"; }, 60000))
            << "node 3 never listed; boxes: " << Joined(user.Shown());

        ScriptedFileDialog files;
        files.Answer(hexFile);
        bool opened = false;
        OnShown<TForm_FW_Download> update([&](TForm_FW_Download* download) {
            opened = true;
            download->Edit_Password->setText("1A2B");
            download->Button1->click(); // Standard Update
            download->close();
        });
        grid->DblClickCell(1, 1);
        ASSERT_TRUE(opened);
        window.close(); // network access stops: the driver lets the nodes' folders go
    }

    const bool success = user.Saw("Download Successful");
    const fieldnode::SectorContent content = readSector(c, networkFolder);
    std::vector<std::uint8_t> expected(content.bytes.size(), 0xFF);
    std::copy(image.begin(), image.end(), expected.begin());
    const bool holdsImage = content.bytes == expected;
    SCOPED_TRACE("boxes: " + Joined(user.Shown()));
    RecordProperty("boxes", Joined(user.Shown()));
    if (success) {
        EXPECT_TRUE(holdsImage) << "success reported for content that differs from the file";
        EXPECT_TRUE(content.checksumMatches);
        if (user.Saw("Sector Download Complete\r\nExecute new Firmware?")) {
            EXPECT_EQ(content.bootSector, Sector);
        }
    } else {
        // Either the update stopped before the erase, and the sector holds the image it held
        // (not this file's), or the sector's checksum is not valid.
        const std::string name(content.bytes.begin(),
                               content.bytes.begin() +
                                   static_cast<std::ptrdiff_t>(std::min<std::size_t>(
                                       content.bytes.size(), std::strlen("Field App"))));
        EXPECT_FALSE(content.checksumMatches && !holdsImage && name == "Field App")
            << "a valid checksum over part of the file's image";
        const std::vector<std::string> shown = user.Shown();
        ASSERT_FALSE(shown.empty());
        EXPECT_FALSE(!shown.back().empty() && shown.back().back() == '?')
            << "the update ended without a word after a question";
    }
    if (c.mustSucceed) {
        EXPECT_TRUE(success);
    }
}

// The node answers 20 ms late throughout; the bus holds back every 150th frame past the
// master's 500 ms time-out.
constexpr const char* SlowNode = "answer_delay_ms=20";
constexpr const char* NowAndThenPastTheTimeOut = "delay_every=150\ndelay_ms=520";
// Every 50th frame held 600 ms (past the 500 ms time-out, as a stalled adapter queue or a
// gateway holds it) or 400 ms (within it).
constexpr const char* PastTheTimeOut = "delay_every=50\ndelay_ms=600";
constexpr const char* WithinTheTimeOut = "delay_every=50\ndelay_ms=400";
// A node that sums its sectors over less than the image: it never confirms the checksum the
// program computes over the whole image.
constexpr const char* OtherChecksumWindow = "checksum_window=512";

INSTANTIATE_TEST_SUITE_P(
    Canopen, FieldUpdateTest,
    testing::Values(
        FieldCase{"AsShipped", Bus::Canopen, "", "", true},
        FieldCase{"SlowNode", Bus::Canopen, SlowNode, NowAndThenPastTheTimeOut, false},
        FieldCase{"HeartbeatOnly", Bus::Canopen, "heartbeat_ms=1000\nguarding=no", "", true},
        FieldCase{"NoSizeIndicated", Bus::Canopen, "size_indicated=no\nchecksum_width=8", "", true},
        FieldCase{"Every50thFrameLost", Bus::Canopen, "", "lose_every=50", false},
        FieldCase{"Every40thFrameDoubled", Bus::Canopen, "", "duplicate_every=40", true},
        FieldCase{"Every100thFrameLost", Bus::Canopen, "", "lose_every=100", false},
        FieldCase{"Every37thFrameLost", Bus::Canopen, "", "lose_every=37", false},
        FieldCase{"Every29thFrameDoubled", Bus::Canopen, "", "duplicate_every=29", true},
        FieldCase{"Every50thHeldPastTheTimeOut", Bus::Canopen, "", PastTheTimeOut, false},
        FieldCase{"Every50thHeldWithinTheTimeOut", Bus::Canopen, "", WithinTheTimeOut, true},
        FieldCase{"OtherChecksumWindow", Bus::Canopen, OtherChecksumWindow, "", false}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Devicenet, FieldUpdateTest,
    testing::Values(
        FieldCase{"AsShipped", Bus::Devicenet, "", "", true},
        FieldCase{"SlowNode", Bus::Devicenet, SlowNode, NowAndThenPastTheTimeOut, false},
        FieldCase{"Every50thFrameLost", Bus::Devicenet, "", "lose_every=50", false},
        FieldCase{"Every40thFrameDoubled", Bus::Devicenet, "", "duplicate_every=40", false},
        FieldCase{"Every100thFrameLost", Bus::Devicenet, "", "lose_every=100", false},
        FieldCase{"Every37thFrameLost", Bus::Devicenet, "", "lose_every=37", false},
        FieldCase{"Every29thFrameDoubled", Bus::Devicenet, "", "duplicate_every=29", false},
        FieldCase{"Every50thHeldPastTheTimeOut", Bus::Devicenet, "", PastTheTimeOut, false},
        FieldCase{"Every50thHeldWithinTheTimeOut", Bus::Devicenet, "", WithinTheTimeOut, true},
        FieldCase{"OtherChecksumWindow", Bus::Devicenet, OtherChecksumWindow, "", false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
