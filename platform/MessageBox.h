#pragma once

#include <functional>
#include <string>

// Button sets, icons and results with the values of the Win32 message box.
enum : unsigned {
    MB_OK = 0x00,
    MB_OKCANCEL = 0x01,
    MB_YESNOCANCEL = 0x03,
    MB_YESNO = 0x04,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_DEFBUTTON2 = 0x100, // the second button (No of Yes/No/Cancel) is the default
};
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// The program shows two kinds of box: the plain system box without owner window, and the
// application's own box.
enum class MessageBoxKind { System, Application };

struct MessageBoxRequest {
    MessageBoxKind kind;
    std::string text;
    std::string caption;
    unsigned flags;
};

// Every message box goes through one handler. The default shows a real, modal box; tests
// install one that checks the request and gives a scripted answer. A box belongs to the GUI
// thread: the real box, asked for on another thread, prints the call's name and aborts (in
// release builds too); an installed handler is asked first and checks the thread itself.
using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;

// Installs a handler (an empty one restores the real box); returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

int ShowMessageBox(const MessageBoxRequest& request);

// The system message box. The owner is ignored: the box has no parent window.
int MessageBoxA(void* owner, const char* text, const char* caption, unsigned flags);
