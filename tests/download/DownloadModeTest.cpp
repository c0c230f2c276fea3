#include "Application.h"
#include "DownloadWindowFixture.h"

#include <QLineEdit>
#include <QPushButton>

namespace {

const char* const EnterQuestion =
    "The module is not currently in the download mode.\r\n"
    "Entering Download mode will stop current Node Application Firmware!\r\n"
    "Make sure the Node is in a safe state!\r\n"
    "Enter download mode?\r\n";

using DownloadModeTest = DownloadWindowTest;

TEST_F(DownloadModeTest, NodeAlreadyInDownloadModeIsNeverAskedForPassword) {
    node.inDownloadMode = 1;
    ScriptedMessageBoxes boxes; // none expected
    EXPECT_NE(window.EnsureDownloadMode(), 0);
    EXPECT_EQ(node.Calls(), (std::vector<std::string>{"IsInDownloadMode"}));
}

TEST_F(DownloadModeTest, FailedModeQueryIsSilent) {
    node.modeCallOk = false;
    ScriptedMessageBoxes boxes;
    EXPECT_EQ(window.EnsureDownloadMode(), 0);
    window.Button_RetrieveClick();
    EXPECT_FALSE(window.Button_EraseModule->isEnabled());
}

struct PasswordCase {
    const char* typed;
    std::uint32_t sent;
};

class PasswordTest : public DownloadWindowTest, public testing::WithParamInterface<PasswordCase> {};

TEST_P(PasswordTest, YesSendsTheTypedHexPasswordUnderTheHourglass) {
    window.Edit_Password->setText(GetParam().typed);
    ScriptedMessageBoxes boxes;
    boxes.ExpectSystem(EnterQuestion, "Warning", IDYES, MB_YESNOCANCEL | MB_ICONEXCLAMATION);
    EXPECT_NE(window.EnsureDownloadMode(), 0);
    auto calls = node.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1], "EnterDownloadMode(" + std::to_string(GetParam().sent) + ")");
    EXPECT_EQ(calls[2], "IsInDownloadMode"); // the node's word that it restarted
    EXPECT_EQ(node.Cursors()[1], crHourGlass);
    EXPECT_EQ(Application->ScreenCursor(), crDefault);
}

INSTANTIATE_TEST_SUITE_P(TypedTexts, PasswordTest,
                         testing::Values(PasswordCase{"", 0}, PasswordCase{"1A2B", 0x1A2B},
                                         PasswordCase{"0x1a2b", 0x1A2B}, PasswordCase{"  ff", 0xFF},
                                         PasswordCase{"zz", 0}, PasswordCase{"12x4", 0x12},
                                         PasswordCase{"FFFFFFFF", 0xFFFFFFFF}),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(DownloadModeTest, AnyAnswerButYesLeavesTheNodeAlone) {
    for (int answer : {IDNO, IDCANCEL}) {
        ScriptedMessageBoxes boxes;
        boxes.ExpectSystem(EnterQuestion, "Warning", answer);
        EXPECT_EQ(window.EnsureDownloadMode(), 0);
    }
    for (const auto& call : node.Calls())
        EXPECT_EQ(call, "IsInDownloadMode");
}

TEST_F(DownloadModeTest, RefusedPasswordIsReportedAndNothingIsRead) {
    node.passwordAccepted = false;
    ScriptedMessageBoxes boxes;
    boxes.ExpectSystem(EnterQuestion, "Warning", IDYES)
        .ExpectSystem("Password Not Accepted\r\n", "Warning", IDOK, MB_OK | MB_ICONEXCLAMATION);
    window.Button_RetrieveClick();
    EXPECT_EQ(node.Calls(), (std::vector<std::string>{"IsInDownloadMode", "EnterDownloadMode(0)"}));
    EXPECT_FALSE(window.Button_EraseModule->isEnabled());
    EXPECT_EQ(Application->ScreenCursor(), crDefault);
}

// The node must say that it is in download mode: a restart that went lost, or a password
// whose answer went lost, is made again, and a node that never gets there is a failure that
// names it, not a refused password.
struct ModeEntryCase {
    const char* name;
    int restartsLost;
    bool passwordUnanswered;
    bool entered;
    const char* told; // the last message, or nullptr
    int passwordsSent;
};

class ModeEntryTest : public DownloadWindowTest,
                      public testing::WithParamInterface<ModeEntryCase> {};

TEST_P(ModeEntryTest, TheNodeMustSayItIsInDownloadMode) {
    const ModeEntryCase& row = GetParam();
    node.restartsLost = row.restartsLost;
    if (row.passwordUnanswered) {
        node.passwordAccepted = false;
        node.passwordFailureError = node.NoAnswerError = 0x05040000;
    }
    ScriptedMessageBoxes boxes;
    boxes.ExpectSystem(EnterQuestion, "Warning", IDYES);
    if (row.told)
        boxes.ExpectApp(row.told, "Error", IDOK);
    EXPECT_EQ(window.EnsureDownloadMode() != 0, row.entered);
    EXPECT_EQ(node.CountCalls("EnterDownloadMode"), static_cast<size_t>(row.passwordsSent));
    EXPECT_EQ(node.inDownloadMode != 0, row.entered);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ModeEntryTest,
    testing::Values(
        ModeEntryCase{"OneRestartLost", 1, false, true, nullptr, 2},
        ModeEntryCase{"EveryRestartLost", 3, false, false,
                      "Could Not Enter Download Mode!\r\nThe node still runs its application.", 3},
        ModeEntryCase{"NoAnswerToThePassword", 0, true, false,
                      "Could Not Enter Download Mode!\r\nThe node did not answer.", 3}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
