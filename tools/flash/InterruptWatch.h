#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

// Ctrl-C (SIGINT) while it lives: the signal only marks the run interrupted; the handler runs
// on the thread of the event loop, where the window's Cancel may be pressed. Further signals
// change nothing: the run ends as the first one asked, never leaving a download thread behind.
class InterruptWatch : public QObject {
public:
    explicit InterruptWatch(std::function<void()> onInterrupt);
    ~InterruptWatch() override;

    static bool Interrupted();

private:
    std::function<void()> onInterrupt_;
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction* previous_;
};
