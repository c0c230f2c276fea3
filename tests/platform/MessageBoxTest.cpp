#include "MessageBox.h"

#include "Application.h"
#include "EventLoop.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <gtest/gtest.h>
#include <thread>

namespace {

// While it lives, message boxes are the real ones: the test main's guard is set aside and
// put back afterwards.
class RealMessageBoxes {
public:
    RealMessageBoxes() : previous_(SetMessageBoxHandler({})) {}
    ~RealMessageBoxes() { SetMessageBoxHandler(previous_); }
    RealMessageBoxes(const RealMessageBoxes&) = delete;
    RealMessageBoxes& operator=(const RealMessageBoxes&) = delete;

private:
    MessageBoxHandler previous_;
};

constexpr auto NoButton = QMessageBox::NoButton; // stands for the Esc key below

struct BoxCase {
    MessageBoxKind kind;
    unsigned flags;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon;
    QMessageBox::StandardButton press; // NoButton: press Esc
    int result;
};

void PrintTo(const BoxCase& c, std::ostream* os) {
    *os << (c.kind == MessageBoxKind::System ? "system" : "application") << " box, flags 0x"
        << std::hex << c.flags << ", press " << (c.press == NoButton ? "Esc" : "a button")
        << std::dec;
}

class RealMessageBox : public testing::TestWithParam<BoxCase> {};

// The flag combinations the program uses (grep MB_ app/), each with its buttons and icon, and
// what each button and the Esc key return.
const BoxCase realBoxCases[] = {
    {MessageBoxKind::Application, MB_OK, QMessageBox::Ok, QMessageBox::NoIcon, QMessageBox::Ok,
     IDOK},
    {MessageBoxKind::Application, MB_OK, QMessageBox::Ok, QMessageBox::NoIcon, NoButton, IDOK},
    {MessageBoxKind::Application, MB_OK | MB_ICONERROR, QMessageBox::Ok, QMessageBox::Critical,
     QMessageBox::Ok, IDOK},
    {MessageBoxKind::Application, MB_OK | MB_ICONERROR, QMessageBox::Ok, QMessageBox::Critical,
     NoButton, IDOK},
    {MessageBoxKind::System, MB_OK | MB_ICONEXCLAMATION, QMessageBox::Ok, QMessageBox::Warning,
     QMessageBox::Ok, IDOK},
    {MessageBoxKind::System, MB_OK | MB_ICONEXCLAMATION, QMessageBox::Ok, QMessageBox::Warning,
     NoButton, IDOK},
    {MessageBoxKind::Application, MB_YESNOCANCEL,
     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::NoIcon,
     QMessageBox::Yes, IDYES},
    {MessageBoxKind::Application, MB_YESNOCANCEL,
     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::NoIcon, QMessageBox::No,
     IDNO},
    {MessageBoxKind::Application, MB_YESNOCANCEL,
     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::NoIcon,
     QMessageBox::Cancel, IDCANCEL},
    {MessageBoxKind::Application, MB_YESNOCANCEL,
     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::NoIcon, NoButton,
     IDCANCEL},
    {MessageBoxKind::System, MB_YESNOCANCEL | MB_ICONEXCLAMATION,
     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Warning,
     QMessageBox::Yes, IDYES},
    {MessageBoxKind::System, MB_YESNOCANCEL | MB_ICONEXCLAMATION,
     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Warning,
     QMessageBox::No, IDNO},
    {MessageBoxKind::System, MB_YESNOCANCEL | MB_ICONEXCLAMATION,
     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Warning,
     QMessageBox::Cancel, IDCANCEL},
    {MessageBoxKind::System, MB_YESNOCANCEL | MB_ICONEXCLAMATION,
     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Warning, NoButton,
     IDCANCEL},
};

TEST_P(RealMessageBox, ShowsButtonsAndIconAndReturnsThePressedButton) {
    const BoxCase& c = GetParam();
    RealMessageBoxes real;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title, text;
    bool pressed = false;
    OnShown<QMessageBox> answer([&](QMessageBox* box) {
        buttons = box->standardButtons();
        icon = box->icon();
        title = box->windowTitle();
        text = box->text();
        if (c.press == NoButton) {
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(box, &esc);
            pressed = true;
        } else if (QAbstractButton* button = box->button(c.press)) {
            button->click();
            pressed = true;
        } else {
            box->done(0); // the button is missing: end the box, the checks below fail
        }
    });
    const int result =
        c.kind == MessageBoxKind::System
            ? MessageBoxA(nullptr, "Line one\r\nLine two", "The Caption", c.flags)
            : Application->MessageBox("Line one\r\nLine two", "The Caption", c.flags);
    ASSERT_TRUE(answer.Done());
    EXPECT_TRUE(pressed);
    EXPECT_EQ(buttons, c.buttons);
    EXPECT_EQ(icon, c.icon);
    EXPECT_EQ(title, QStringLiteral("The Caption"));
    EXPECT_EQ(text, QStringLiteral("Line one\nLine two"));
    EXPECT_EQ(result, c.result);
}

INSTANTIATE_TEST_SUITE_P(FlagsTheProgramUses, RealMessageBox, testing::ValuesIn(realBoxCases));

// A question whose safe answer is No makes No the default button: Enter answers No. Without
// the flag Enter answers Yes, as the questions of the program always did.
TEST(RealMessageBoxDefault, SecondButtonFlagMakesNoTheDefault) {
    struct Case {
        unsigned flags;
        QMessageBox::StandardButton defaultButton;
        int enterResult;
    };
    for (const Case& c :
         {Case{MB_YESNOCANCEL | MB_ICONEXCLAMATION | MB_DEFBUTTON2, QMessageBox::No, IDNO},
          Case{MB_YESNOCANCEL, QMessageBox::NoButton, IDYES}}) { // Qt's own choice
        SCOPED_TRACE(c.flags);
        RealMessageBoxes real;
        QMessageBox::StandardButton defaultButton = QMessageBox::Ignore;
        OnShown<QMessageBox> answer([&](QMessageBox* box) {
            defaultButton = box->standardButton(box->defaultButton());
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(box, &enter);
        });
        const int result = Application->MessageBox("Erase it anyway?", "Warning", c.flags);
        ASSERT_TRUE(answer.Done());
        EXPECT_EQ(defaultButton, c.defaultButton);
        EXPECT_EQ(result, c.enterResult);
    }
}

// A real box asked for off the GUI thread ends the program with a message naming the call
// (a scripted handler fails only the test: ScriptedDialogsTest.cpp).
TEST(MessageBoxDeathTest, RealSystemBoxOffTheGuiThreadAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            SetMessageBoxHandler({});
            std::thread([] { MessageBoxA(nullptr, "text", "caption", MB_OK); }).join();
        },
        "MessageBoxA called off the GUI thread");
}

TEST(MessageBoxDeathTest, RealApplicationBoxOffTheGuiThreadAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            SetMessageBoxHandler({});
            std::thread([] { Application->MessageBox("text", "caption", MB_OK); }).join();
        },
        "Application->MessageBox called off the GUI thread");
}

} // namespace
