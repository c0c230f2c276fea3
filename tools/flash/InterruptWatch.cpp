#include "InterruptWatch.h"

#include <QSocketNotifier>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::atomic<bool> interrupted{false};
int wakePipe[2] = {-1, -1};
struct sigaction previousAction;

void onSignal(int) {
    interrupted.store(true);
    const char byte = 1;
    // Nothing to do when the pipe is full: a wake-up is pending already.
    [[maybe_unused]] ssize_t written = ::write(wakePipe[1], &byte, 1);
}

} // namespace

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt)
    : onInterrupt_(std::move(onInterrupt)), previous_(&previousAction) {
    interrupted.store(false);
    if (wakePipe[0] < 0 && ::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        wakePipe[0] = wakePipe[1] = -1;
    if (wakePipe[0] >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(wakePipe[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
            char bytes[16];
            while (::read(wakePipe[0], bytes, sizeof bytes) > 0) {
            }
            if (onInterrupt_)
                onInterrupt_();
        });
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // a question waiting on the terminal ends: it is answered Cancel
    sigaction(SIGINT, &action, previous_);
}

InterruptWatch::~InterruptWatch() {
    sigaction(SIGINT, previous_, nullptr);
    notifier_.reset();
}

bool InterruptWatch::Interrupted() {
    return interrupted.load();
}
