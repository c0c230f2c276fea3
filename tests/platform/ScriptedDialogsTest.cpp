#include "ScriptedDialogs.h"

#include "Application.h"
#include "RecordingSleep.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <thread>

namespace {

template <typename F> auto onOtherThread(F call) {
    decltype(call()) result{};
    std::thread([&] { result = call(); }).join();
    return result;
}

TEST(ScriptedMessageBoxes, NestedScriptGivesTheOuterOneBack) {
    ScriptedMessageBoxes outer;
    outer.ExpectSystem("after the inner script", "Caption", IDNO);
    {
        ScriptedMessageBoxes inner;
        inner.ExpectApp("inside", "Caption", IDYES);
        EXPECT_EQ(Application->MessageBox("inside", "Caption", MB_YESNOCANCEL), IDYES);
    }
    EXPECT_EQ(MessageBoxA(nullptr, "after the inner script", "Caption", MB_YESNOCANCEL), IDNO);
    EXPECT_EQ(outer.Pending(), 0u);
}

TEST(ScriptedMessageBoxes, ScriptsEndedOutOfOrderFailTheTestAndLeaveNoDanglingHandler) {
    auto outer = std::make_unique<ScriptedMessageBoxes>();
    auto inner = std::make_unique<ScriptedMessageBoxes>();
    inner->ExpectSystem("still inner", "Caption", IDYES);
    EXPECT_NONFATAL_FAILURE(outer.reset(), "another handler was installed");
    EXPECT_EQ(MessageBoxA(nullptr, "still inner", "Caption", MB_OK), IDYES);
    inner.reset(); // gives back the outer script's handler, which now acts as the guard
    EXPECT_NONFATAL_FAILURE(MessageBoxA(nullptr, "nobody", "Caption", MB_OK),
                            "unexpected system box");
}

TEST(ScriptedMessageBoxes, BoxOffTheGuiThreadFailsTheTestAndIsCancelled) {
    ScriptedMessageBoxes boxes;
    boxes.ExpectSystem("text", "Caption", IDYES);
    int answer = 0;
    EXPECT_NONFATAL_FAILURE_ON_ALL_THREADS(
        answer = onOtherThread([] { return MessageBoxA(nullptr, "text", "Caption", MB_OK); }),
        "off the GUI thread");
    EXPECT_EQ(answer, IDCANCEL);
    EXPECT_NONFATAL_FAILURE_ON_ALL_THREADS(
        answer = onOtherThread([] { return Application->MessageBox("text", "Caption", MB_OK); }),
        "off the GUI thread");
    EXPECT_EQ(answer, IDCANCEL);
    EXPECT_EQ(boxes.Pending(), 1u); // the script is untouched
    EXPECT_EQ(MessageBoxA(nullptr, "text", "Caption", MB_OK), IDYES);
}

TEST(ScriptedMessageBoxes, GuardFailsABoxOffTheGuiThread) {
    int answer = 0;
    EXPECT_NONFATAL_FAILURE_ON_ALL_THREADS(
        answer = onOtherThread([] { return MessageBoxA(nullptr, "text", "Caption", MB_OK); }),
        "off the GUI thread");
    EXPECT_EQ(answer, IDCANCEL);
}

TEST(ScriptedFileDialog, NestedScriptGivesTheOuterOneBack) {
    ScriptedFileDialog outer;
    outer.Answer("/tmp/outer.hex");
    {
        ScriptedFileDialog inner;
        inner.Answer(std::nullopt);
        TOpenDialog dialog;
        EXPECT_FALSE(dialog.Execute());
    }
    TOpenDialog dialog;
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, "/tmp/outer.hex");
}

TEST(ScriptedFileDialog, DialogOffTheGuiThreadFailsTheTestAndIsCancelled) {
    ScriptedFileDialog files;
    files.Answer("/tmp/a.hex");
    bool chosen = true;
    EXPECT_NONFATAL_FAILURE_ON_ALL_THREADS(chosen = onOtherThread([] {
                                               TOpenDialog dialog;
                                               dialog.Title = "Open";
                                               return dialog.Execute();
                                           }),
                                           "file dialog \"Open\" asked for off the GUI thread");
    EXPECT_FALSE(chosen);
    EXPECT_TRUE(files.Requests().empty());
    TOpenDialog dialog;
    EXPECT_TRUE(dialog.Execute()); // the answer is still there
}

TEST(ScriptedFileDialog, GuardFailsADialogOffTheGuiThread) {
    bool chosen = true;
    EXPECT_NONFATAL_FAILURE_ON_ALL_THREADS(chosen = onOtherThread([] {
                                               TOpenDialog dialog;
                                               return dialog.Execute();
                                           }),
                                           "off the GUI thread");
    EXPECT_FALSE(chosen);
}

TEST(RecordingSleep, NestedRecordingGivesTheOuterOneBack) {
    RecordingSleep outer;
    Sleep(1);
    {
        RecordingSleep inner;
        Sleep(2);
        EXPECT_EQ(inner.Pauses(), (std::vector<DWORD>{2}));
    }
    Sleep(3);
    EXPECT_EQ(outer.Pauses(), (std::vector<DWORD>{1, 3}));
}

} // namespace
