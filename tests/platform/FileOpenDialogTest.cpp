#include "FileOpenDialog.h"

#include <QDir>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <thread>

namespace {

TEST(FileOpenDialog, FilterKeepsItsLabelAndMatchesAnyLetterCase) {
    const std::string filters = QtNameFiltersFor("Hex Files  (*.HEX,*.H86)|*.H86;*.HEX");
    EXPECT_EQ(filters, "Hex Files  (*.HEX,*.H86) (*.[hH]86 *.[hH][eE][xX])");
    // What Qt makes of the patterns: wildcards matched against file names.
    for (const char* name : {"app.h86", "APP.H86", "app.Hex", "image.hex"}) {
        bool matched = false;
        for (const char* pattern : {"*.[hH]86", "*.[hH][eE][xX]"})
            matched |= QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern))
                           .match(name)
                           .hasMatch();
        EXPECT_TRUE(matched) << name;
    }
    EXPECT_EQ(QtNameFiltersFor("Text (*.txt)|*.txt|All|*"),
              "Text (*.txt) (*.[tT][xX][tT]);;All (*)");
}

TEST(FileOpenDialog, StartsInAnExistingFolder) {
    EXPECT_TRUE(QDir(QString::fromStdString(DefaultDocumentsFolder())).exists());
}

TEST(FileOpenDialog, ExecuteTakesTheHandlersChoice) {
    auto previous = SetFileDialogHandler([](const OpenFileRequest& request) {
        return request.title == "Open Hex File" ? std::optional<std::string>("/tmp/a.h86")
                                                : std::nullopt;
    });
    TOpenDialog dialog;
    dialog.Title = "Open Hex File";
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, "/tmp/a.h86");
    dialog.Title = "Other";
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, "/tmp/a.h86");
    SetFileDialogHandler(previous);
}

// A real dialog asked for off the GUI thread ends the program with a message naming the call.
TEST(FileOpenDialogDeathTest, RealDialogOffTheGuiThreadAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            SetFileDialogHandler({});
            std::thread([] {
                TOpenDialog dialog;
                dialog.Execute();
            }).join();
        },
        "TOpenDialog::Execute called off the GUI thread");
}

} // namespace
