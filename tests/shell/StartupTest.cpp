#include "DynamicLibrary.h"
#include "EventLoop.h"
#include "FormScale.h"
#include "Form_FW_Download_Main.h"
#include "Form_NetworkSelect.h"
#include "ProgramEntry.h"
#include "RecordingSleep.h"
#include "SimulatedVarnix.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct ArgumentCase {
    const char* text;
    TNodeType type;
};

class NodeTypeArgument : public testing::TestWithParam<ArgumentCase> {};

TEST_P(NodeTypeArgument, FirstCharacterDecides) {
    EXPECT_EQ(NodeTypeFromArgumentText(GetParam().text), GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NodeTypeArgument,
    testing::Values(ArgumentCase{"D", NodeTypeDeviceNet}, ArgumentCase{"Dnet", NodeTypeDeviceNet},
                    ArgumentCase{"d", NodeTypeDeviceNet}, ArgumentCase{"c", NodeTypeCANopen},
                    ArgumentCase{"canopen", NodeTypeCANopen}, ArgumentCase{"C", NodeTypeCANopen},
                    ArgumentCase{"U", NodeTypeVARNIX}, ArgumentCase{"u", NodeTypeVARNIX},
                    ArgumentCase{"x", NodeTypeNone}, ArgumentCase{"2", NodeTypeNone},
                    ArgumentCase{"-d", NodeTypeNone}, ArgumentCase{" d", NodeTypeNone},
                    ArgumentCase{"", NodeTypeNone}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(ProgramEntry, ArgumentTextJoinsWhatFollowsTheProgramName) {
    char program[] = "zandrel", first[] = "u", second[] = "extra";
    char* argv[] = {program, first, second};
    EXPECT_EQ(ArgumentText(3, argv), "u extra");
    EXPECT_EQ(ArgumentText(1, argv), "");
}

TEST(NodeTypeDialog, AsCreated) {
    TForm_NetworkSelect dialog;
    EXPECT_EQ(dialog.windowTitle(), "Select Node Type");
    EXPECT_EQ(dialog.size(), FormScale::Of(&dialog).Size(318, 128)); // the design's, scaled
    EXPECT_TRUE(dialog.RadioButton_DeviceNet->isChecked());
    EXPECT_EQ(dialog.ChosenNodeType(), NodeTypeNone);
}

TEST(NodeTypeDialog, OkUntouchedChoosesDeviceNet) {
    OnShown<TForm_NetworkSelect> watch1([](auto* d) { d->Button_Ok->click(); });
    EXPECT_EQ(AskNodeType(), NodeTypeDeviceNet);
}

TEST(NodeTypeDialog, OkTakesTheChosenType) {
    OnShown<TForm_NetworkSelect> watch2([](auto* d) {
        d->RadioButton_VARNIX->setChecked(true);
        d->Button_Ok->click();
    });
    EXPECT_EQ(AskNodeType(), NodeTypeVARNIX);
}

TEST(NodeTypeDialog, CancelEscAndCloseBoxChooseNothing) {
    std::function<void(TForm_NetworkSelect*)> ways[] = {
        [](auto* d) { d->Button_Cancel->click(); },
        [](auto* d) {
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(d, &esc);
        },
        [](auto* d) {
            d->close();
        }};
    for (auto& way : ways) {
        OnShown<TForm_NetworkSelect> watch3(way);
        EXPECT_EQ(AskNodeType(), NodeTypeNone);
    }
}

TEST(ProgramEntry, CancelledDialogEndsTheRunWithoutMainWindow) {
    bool mainWindowSeen = false;
    OnShown<TForm_NetworkSelect> watch4([](auto* d) { d->Button_Cancel->click(); });
    OnShown<TForm_FW_Download_Main> watch5([&](auto* w) {
        mainWindowSeen = true;
        w->close();
    });
    EXPECT_EQ(RunZandrel("x"), 0); // returns: no message loop was entered
    QApplication::processEvents();
    EXPECT_FALSE(mainWindowSeen);
}

TEST(ProgramEntry, LetterOpensTheMainWindowOfItsType) {
    RecordingSleep sleeps;
    SimulatedVarnix simulated;
    TNodeType seen = NodeTypeNone;
    bool downloader = false;
    OnShown<TForm_FW_Download_Main> watch6([&](auto* w) {
        seen = w->NodeType;
        downloader = w->Downloader != nullptr;
        w->close(); // ends the message loop
    });
    EXPECT_EQ(RunZandrel("u"), 0);
    EXPECT_EQ(seen, NodeTypeVARNIX);
    EXPECT_TRUE(downloader);
}

} // namespace
