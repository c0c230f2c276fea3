#include "MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <mutex>

namespace {

std::mutex handlerMutex;
MessageBoxHandler currentHandler;

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
    std::lock_guard lock(handlerMutex);
    std::swap(currentHandler, handler);
    return handler;
}

int ShowMessageBox(const MessageBoxRequest& request) {
    MessageBoxHandler handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = currentHandler;
    }
    return handler ? handler(request) : showRealBox(request);
}

int MessageBoxA(void* /*owner*/, const char* text, const char* caption, unsigned flags) {
    return ShowMessageBox(
        {MessageBoxKind::System, text ? text : "", caption ? caption : "", flags});
}
