#include "MessageBox.h"

#include "ReplaceableHandler.h"
#include "Thread.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

namespace {

ReplaceableHandler<int(const MessageBoxRequest&)>& boxHandler() {
    static ReplaceableHandler<int(const MessageBoxRequest&)> handler;
    return handler;
}

QString displayText(const std::string& text) {
    QString s = QString::fromLocal8Bit(text.c_str());
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QChar('\r'), QChar('\n'));
    return s;
}

int showRealBox(const MessageBoxRequest& request) {
    QWidget* parent =
        request.kind == MessageBoxKind::Application ? QApplication::activeWindow() : nullptr;
    QMessageBox box(parent);
    box.setWindowTitle(displayText(request.caption));
    box.setText(displayText(request.text));
    switch (request.flags & 0xF0) {
    case MB_ICONERROR:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case MB_ICONEXCLAMATION:
        box.setIcon(QMessageBox::Warning);
        break;
    case MB_ICONINFORMATION:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    switch (request.flags & 0x0F) {
    case MB_YESNOCANCEL:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    }
    // The second button is No (Yes/No, Yes/No/Cancel) or Cancel (OK/Cancel).
    if (request.flags & MB_DEFBUTTON2)
        box.setDefaultButton(box.button(QMessageBox::No) ? QMessageBox::No : QMessageBox::Cancel);
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Ok:
        return IDOK;
    default:
        return (request.flags & 0x0F) == MB_OK ? IDOK : IDCANCEL;
    }
}

} // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    return boxHandler().Set(std::move(handler));
}

// A box belongs to the GUI thread. The handler is asked first and the thread is checked only
// when the real box is about to be shown: a test's scripted handler checks the thread itself
// and fails that test (answering Cancel), where an abort here would end the whole test
// program. The program itself installs no handler, so there every box is checked.
int ShowMessageBox(const MessageBoxRequest& request) {
    if (MessageBoxHandler handler = boxHandler().Get())
        return handler(request);
    RequireGuiThread(request.kind == MessageBoxKind::System ? "MessageBoxA"
                                                            : "Application->MessageBox");
    return showRealBox(request);
}

int MessageBoxA(void* /*owner*/, const char* text, const char* caption, unsigned flags) {
    return ShowMessageBox(
        {MessageBoxKind::System, text ? text : "", caption ? caption : "", flags});
}
