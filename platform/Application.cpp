#include "Application.h"

#include "MessageBox.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QWidget>

namespace {

TApplication theApplication;

// Follows the mouse into and out of widgets and reports the hint of the one it is over.
class HintTracker : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Enter || event->type() == QEvent::Leave) {
            if (auto* widget = qobject_cast<QWidget*>(watched)) {
                if (event->type() == QEvent::Enter)
                    Application->SetHint(widget->toolTip().toStdString());
                else if (!widget->toolTip().isEmpty())
                    Application->SetHint("");
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

TApplication* const Application = &theApplication;

void TApplication::SetTitle(const std::string& title) {
    title_ = title;
    if (qApp)
        QCoreApplication::setApplicationName(QString::fromStdString(title));
}

int TApplication::MessageBox(const char* text, const char* caption, unsigned flags) {
    return ShowMessageBox(
        {MessageBoxKind::Application, text ? text : "", caption ? caption : "", flags});
}

void TApplication::SetHint(const std::string& hint) {
    if (hint == hint_)
        return;
    hint_ = hint;
    if (OnHint)
        OnHint();
}

void TApplication::TrackHints() {
    if (tracking_ || !qApp)
        return;
    qApp->installEventFilter(new HintTracker(qApp));
    tracking_ = true;
}

void TApplication::SetScreenCursor(TCursor cursor) {
    if (cursor == cursor_)
        return;
    cursor_ = cursor;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    if (overriding_) {
        QGuiApplication::restoreOverrideCursor();
        overriding_ = false;
    }
    if (cursor == crHourGlass) {
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        overriding_ = true;
    }
}
