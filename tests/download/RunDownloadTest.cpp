#include "DownloadWindowFixture.h"
#include "Form_DownloadProgress.h"
#include "Gauge.h"
#include "HexFiles.h"
#include "Thread_Download.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <atomic>
#include <thread>

namespace {

using Block = ScriptedDownloader::Block;

class RunDownloadTest : public DownloadWindowTest {
public:
    // A file of count records of length bytes each, one after the other from address 0.
    std::string file(int count, int length) {
        std::vector<std::string> lines;
        for (int i = 0; i < count; ++i)
            lines.push_back(HexFiles::Data(
                static_cast<std::uint16_t>(i * length),
                HexFiles::Bytes(static_cast<size_t>(length), static_cast<std::uint8_t>(i))));
        lines.push_back(HexFiles::EndOfFile());
        return files.Write(lines);
    }

    // Presses Cancel as the user would, from inside a node call on the worker, and waits
    // until the dialog has taken it.
    void pressCancelFromWorker() {
        TForm_DownloadProgress* dialog = window.Form_DownloadProgress;
        QMetaObject::invokeMethod(
            dialog, [dialog] { dialog->Button_Cancel->click(); }, Qt::QueuedConnection);
        while (!dialog->Cancelled)
            std::this_thread::yield();
    }

    HexFiles files;
};

struct SplitCase {
    std::uint32_t blockSize;
    int length;
    std::vector<std::uint8_t> writes;
    std::vector<std::uint8_t> reads;
};

class BlockSplitTest : public RunDownloadTest, public testing::WithParamInterface<SplitCase> {};

TEST_P(BlockSplitTest, RecordIsWrittenInBlocksAndARestThenReadBackWithoutEmptyRest) {
    const SplitCase& c = GetParam();
    node.BlockSize = c.blockSize;
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp("Download Successful", "Success", IDOK, MB_OK);
    EXPECT_EQ(window.RunDownload(1, file(1, c.length).c_str()), 1);

    std::vector<Block> writes, reads;
    std::uint32_t address = 0;
    for (std::uint8_t n : c.writes) {
        writes.push_back({1, address, n});
        address += n;
    }
    address = 0;
    for (std::uint8_t n : c.reads) {
        reads.push_back({1, address, n});
        address += n;
    }
    EXPECT_EQ(node.Downloads(), writes);
    EXPECT_EQ(node.Uploads(), reads);
    EXPECT_EQ(node.CountCalls("SetSectorChecksum(1)"), 1u);
    EXPECT_EQ(window.HexFile, nullptr);
    EXPECT_EQ(window.Worker, nullptr);
    EXPECT_EQ(window.Form_DownloadProgress, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BlockSplitTest,
    testing::Values(
        SplitCase{32, 32, {32, 0}, {32}}, SplitCase{8, 40, {8, 8, 8, 8, 8, 0}, {8, 8, 8, 8, 8}},
        SplitCase{32, 20, {20}, {20}}, SplitCase{8, 12, {8, 4}, {8, 4}},
        SplitCase{32, 255, {32, 32, 32, 32, 32, 32, 32, 31}, {32, 32, 32, 32, 32, 32, 32, 31}}),
    [](const auto& info) {
        return "Block" + std::to_string(info.param.blockSize) + "Record" +
               std::to_string(info.param.length);
    });

TEST_F(RunDownloadTest, SuccessShowsVerifyCaptionFullGaugeAndRereadsTable) {
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp("Download Successful", "Success", IDOK).WhenShown([this] {
        ASSERT_NE(window.Form_DownloadProgress, nullptr);
        EXPECT_EQ(window.Form_DownloadProgress->windowTitle(), "Verify Progress");
        // The end-of-file record is the last line but one read: 251 of 252.
        EXPECT_EQ(window.Form_DownloadProgress->CGauge_Progress->Progress(), 99);
        EXPECT_FALSE(window.Form_DownloadProgress->isVisible());
    });
    node.ClearCalls();
    EXPECT_EQ(window.RunDownload(1, file(250, 16).c_str()), 1);
    auto calls = node.Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "SetSectorChecksum(1)");
    EXPECT_EQ(calls[1], "GetSectorCount"); // the table is read again
    EXPECT_EQ(node.Downloads().size(), 250u);
}

struct OutcomeCase {
    const char* name;
    std::function<void(ScriptedDownloader&)> script;
    const char* text;
    const char* caption;
    bool checksumAsked;
};

class OutcomeTest : public RunDownloadTest, public testing::WithParamInterface<OutcomeCase> {};

TEST_P(OutcomeTest, OutcomeIsReportedAndChecksumWrittenOnlyAfterVerifiedTransfer) {
    GetParam().script(node);
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp(GetParam().text, GetParam().caption, IDOK, MB_OK);
    std::int32_t result = window.RunDownload(1, file(20, 16).c_str());
    EXPECT_EQ(result, std::string(GetParam().text) == "Download Successful" ? 1 : 0);
    EXPECT_EQ(node.CountCalls("SetSectorChecksum"), GetParam().checksumAsked ? 1u : 0u);
    EXPECT_EQ(node.CountCalls("GetSectorCount"), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, OutcomeTest,
    testing::Values(
        OutcomeCase{"WriteRefused", [](ScriptedDownloader& n) { n.failDownloadAt = 7; },
                    "Download Error", "Warning", false},
        OutcomeCase{"ReadBackDiffers", [](ScriptedDownloader& n) { n.corruptUploadAt = 5; },
                    "Verify Error", "Warning", false},
        OutcomeCase{"FirstReadBackDiffers", [](ScriptedDownloader& n) { n.corruptUploadAt = 0; },
                    "Verify Error", "Warning", false},
        OutcomeCase{"ReadBackUnsupported",
                    [](ScriptedDownloader& n) { n.readBackSupported = false; },
                    "Download Successful", "Success", true},
        OutcomeCase{"ReadBackFailsMidway", [](ScriptedDownloader& n) { n.failUploadAt = 3; },
                    "Verify Error", "Warning", false},
        OutcomeCase{"ChecksumRefused", [](ScriptedDownloader& n) { n.checksumWriteOk = false; },
                    "Could Not Write Checksum", "Error", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunDownloadTest, ReadBackUnsupportedStopsVerifyAtFirstBlock) {
    node.readBackSupported = false;
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp("Download Successful", "Success", IDOK);
    window.RunDownload(1, file(20, 16).c_str());
    EXPECT_EQ(node.Uploads().size(), 1u);
}

TEST_F(RunDownloadTest, MalformedLineEndsDownloadWithError) {
    // Reached only when the file changed after it was checked: still never a success.
    std::string path = files.Write({HexFiles::Data(0, {1, 2}), ":0100010002FF"});
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp("Download Error", "Warning", IDOK);
    EXPECT_EQ(window.RunDownload(1, path.c_str()), 0);
    EXPECT_EQ(node.CountCalls("SetSectorChecksum"), 0u);
}

TEST_F(RunDownloadTest, CancelDuringDownloadStopsWithinOneRecord) {
    node.onDownload = [this](int index) {
        if (index == 10)
            pressCancelFromWorker();
    };
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp("Download Error", "Warning", IDOK);
    EXPECT_EQ(window.RunDownload(1, file(400, 16).c_str()), 0);
    EXPECT_EQ(node.Downloads().size(), 11u); // the record under way, no further one
    EXPECT_TRUE(node.Uploads().empty());
    EXPECT_EQ(node.CountCalls("SetSectorChecksum"), 0u);
}

TEST_F(RunDownloadTest, CancelDuringVerifyIsAVerifyError) {
    node.onUpload = [this](int index) {
        if (index == 3)
            pressCancelFromWorker();
    };
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp("Verify Error", "Warning", IDOK);
    EXPECT_EQ(window.RunDownload(1, file(400, 16).c_str()), 0);
    EXPECT_EQ(node.Uploads().size(), 4u);
    EXPECT_EQ(node.CountCalls("SetSectorChecksum"), 0u);
}

TEST_F(RunDownloadTest, CancelAtTheLastRecordIsNeverASuccess) {
    node.onDownload = [this](int index) {
        if (index == 2)
            pressCancelFromWorker();
    };
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp("Download Error", "Warning", IDOK);
    EXPECT_EQ(window.RunDownload(1, file(3, 16).c_str()), 0);
    EXPECT_EQ(node.CountCalls("SetSectorChecksum"), 0u);
}

TEST_F(RunDownloadTest, OneRecordFileClosesTheDialog) {
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp("Download Successful", "Success", IDOK);
    EXPECT_EQ(window.RunDownload(1, file(1, 4).c_str()), 1); // returns: the dialog closed
}

TEST_F(RunDownloadTest, WorkerWithoutFileEndsAtOnce) {
    Thread_Download worker(&window); // no HexFile: nothing to read
    worker.Start();
    worker.WaitFor();
    EXPECT_EQ(worker.DownloadDone, 1u);
    EXPECT_EQ(worker.DownloadOk, 0u);
    EXPECT_EQ(worker.VerifyOk, 0u);
    EXPECT_TRUE(node.Downloads().empty());
}

// The sector has been erased for the file by the time it is opened: a file that is gone
// is a download error, never silence.
TEST_F(RunDownloadTest, UnreadableFileIsADownloadError) {
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp("Download Error", "Warning", IDOK, MB_OK);
    node.ClearCalls();
    EXPECT_EQ(window.RunDownload(1, "/nonexistent/image.hex"), 0);
    EXPECT_EQ(node.CountCalls("GetSectorCount"), 1u);
    EXPECT_EQ(node.CountCalls("SetSectorChecksum"), 0u);
    EXPECT_TRUE(node.Downloads().empty());
}

// A file cut short at a line end holds only sound records, but not the whole image.
TEST_F(RunDownloadTest, FileWithoutEndRecordIsADownloadError) {
    std::string path = files.Write(
        {HexFiles::Data(0, HexFiles::Bytes(16)), HexFiles::Data(16, HexFiles::Bytes(16))});
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp("Download Error", "Warning", IDOK);
    EXPECT_EQ(window.RunDownload(1, path.c_str()), 0);
    EXPECT_EQ(node.Downloads().size(), 2u);
    EXPECT_TRUE(node.Uploads().empty());
    EXPECT_EQ(node.CountCalls("SetSectorChecksum"), 0u);
}

// Lets a node call under way return only once the GUI thread has left the progress
// dialog's loop and runs this thread's request: that is, once it waits for the worker.
class ReleaseFromTheGuiWait : public TThread {
public:
    ReleaseFromTheGuiWait(TForm_FW_Download& window, std::atomic<bool>& callBlocked)
        : window_(window), callBlocked_(callBlocked) {}
    ~ReleaseFromTheGuiWait() override { WaitFor(); }

    std::atomic<bool> released{false};
    std::atomic<bool> hourglassWhileWaiting{false};

protected:
    void Execute() override {
        while (!callBlocked_)
            std::this_thread::yield();
        while (!released) {
            Synchronize([this] {
                // Still in the dialog's loop (the test itself runs outside any loop).
                if (QThread::currentThread()->loopLevel() > 0)
                    return;
                hourglassWhileWaiting = Application->ScreenCursor() == crHourGlass;
                released = true;
            });
            std::this_thread::yield();
        }
    }

private:
    TForm_FW_Download& window_;
    std::atomic<bool>& callBlocked_;
};

struct DialogEnd {
    const char* name;
    std::function<void(TForm_DownloadProgress*)> end;
};

void PrintTo(const DialogEnd& end, std::ostream* out) {
    *out << end.name;
}

class DialogEndTest : public RunDownloadTest, public testing::WithParamInterface<DialogEnd> {};

// However the dialog's loop ends while a node call is under way, the worker is stopped, the
// GUI waits for it with the hourglass, and the node is asked nothing before the call has
// returned.
TEST_P(DialogEndTest, WorkerStopsAndTheTableIsReadOnlyAfterTheCallUnderWay) {
    std::atomic<bool> callBlocked{false};
    std::atomic<bool> callReturned{false};
    std::atomic<bool> askedDuringCall{false};
    ReleaseFromTheGuiWait releaser(window, callBlocked);
    releaser.Start();
    node.onDownload = [&](int index) {
        if (index != 5)
            return;
        TForm_DownloadProgress* dialog = window.Form_DownloadProgress;
        auto end = GetParam().end;
        QMetaObject::invokeMethod(
            dialog, [dialog, end] { end(dialog); }, Qt::QueuedConnection);
        callBlocked = true;
        while (!releaser.released)
            std::this_thread::yield();
        callReturned = true;
    };
    node.onCall = [&](const std::string&) {
        if (callBlocked && !callReturned)
            askedDuringCall = true;
    };
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp("Download Error", "Warning", IDOK);
    EXPECT_EQ(window.RunDownload(1, file(400, 16).c_str()), 0);
    releaser.WaitFor();
    EXPECT_FALSE(askedDuringCall);
    EXPECT_TRUE(releaser.hourglassWhileWaiting);
    EXPECT_EQ(node.Downloads().size(), 6u); // the record under way, no further one
    EXPECT_EQ(node.CountCalls("GetSectorCount"), 1u);
    EXPECT_EQ(node.CountCalls("SetSectorChecksum"), 0u);
    EXPECT_EQ(Application->ScreenCursor(), crDefault);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, DialogEndTest,
    testing::Values(DialogEnd{"CancelButton",
                              [](TForm_DownloadProgress* d) {
                                  d->Button_Cancel->click();
                              }},
                    DialogEnd{"EscapeKey",
                              [](TForm_DownloadProgress* d) {
                                  QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                                  QApplication::sendEvent(d, &press);
                              }},
                    DialogEnd{"CloseBox",
                              [](TForm_DownloadProgress* d) {
                                  d->close();
                              }},
                    // What an application quit does to the loops it ends: no Cancel handler runs.
                    DialogEnd{"LoopEndedFromOutside",
                              [](TForm_DownloadProgress* d) {
                                  d->QDialog::done(QDialog::Rejected);
                              }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
