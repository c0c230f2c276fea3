// The main of every test program: an offscreen Qt application, message boxes and file
// dialogs that fail the test unless scripted, Qt warnings that fail the test, and no
// top-level window left over from one test to the next.

#include "ScriptedDialogs.h"

#include <QApplication>
#include <QDir>
#include <QWidget>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

// Warnings that say nothing about the program under test.
bool isHarmless(const QString& message) {
    // The offscreen platform cannot pass size hints to a window manager it does not have.
    return message.contains(QStringLiteral("does not support propagateSizeHints"));
}

void failOnQtWarnings(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtDebugMsg || type == QtInfoMsg || isHarmless(message))
        return;
    ADD_FAILURE() << "Qt reported: " << message.toStdString();
}

class CloseTopLevelWindows : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo&) override {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->isVisible())
                widget->close();
        QApplication::processEvents();
        InstallUnexpectedDialogGuards();
    }
};

// Qt wants a private runtime folder; a test process without one gets its own, made here
// and removed when the process ends. Returns the folder it made ("" when none).
std::string ensureRuntimeDirectory() {
    if (qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
        return {};
    std::string dir = QDir::tempPath().toStdString() + "/zandrel-test-runtime-XXXXXX";
    if (!mkdtemp(dir.data()))
        return {};
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir));
    return dir;
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string runtimeDirectory = ensureRuntimeDirectory();
    testing::InitGoogleTest(&argc, argv);
    int result;
    {
        QApplication app(argc, argv);
        qInstallMessageHandler(failOnQtWarnings);
        InstallUnexpectedDialogGuards();
        testing::UnitTest::GetInstance()->listeners().Append(new CloseTopLevelWindows);
        result = RUN_ALL_TESTS();
    }
    if (!runtimeDirectory.empty())
        QDir(QString::fromStdString(runtimeDirectory)).removeRecursively();
    return result;
}
