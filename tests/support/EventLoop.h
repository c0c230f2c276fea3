#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>

// Runs the event loop until the condition holds; false if it still does not after a long
// while (a hang, not a measure of speed).
inline bool ProcessEventsUntil(const std::function<bool()>& condition, int limitMs = 20000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > limitMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// While it lives, watches for a visible top-level window of type T and acts on it once,
// e.g. inside that window's own modal loop. Declare it before the call that shows the
// window; it stops watching when it goes out of scope.
template <typename T> class OnShown {
public:
    explicit OnShown(std::function<void(T*)> action) : action_(std::move(action)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start(10);
    }
    OnShown(const OnShown&) = delete;
    OnShown& operator=(const OnShown&) = delete;
    bool Done() const { return done_; }

private:
    void poll() {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* window = qobject_cast<T*>(widget); window && window->isVisible()) {
                timer_.stop();
                done_ = true;
                action_(window);
                return;
            }
    }
    std::function<void(T*)> action_;
    QTimer timer_;
    bool done_ = false;
};
