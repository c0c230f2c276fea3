#include "ProgressLine.h"

#include "TransferTexts.h"

ProgressLine::ProgressLine(std::ostream& out, bool terminal, std::string label,
                           std::uint64_t imageBytes)
    : out_(out), terminal_(terminal), label_(std::move(label)), imageBytes_(imageBytes),
      start_(Clock::now()) {}

void ProgressLine::Show(int percent, bool verifying, Clock::time_point now) {
    percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    if (verifying != verifying_) { // the read-back pass starts
        verifying_ = verifying;
        start_ = now;
        lastTenth_ = -1;
    }
    const double done = percent / 100.0;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? done * static_cast<double>(imageBytes_) / seconds : 0.0;
    const std::string pass = verifying ? "reading back" : "writing";
    if (terminal_) {
        out_ << "\r\033[K" << label_ << ": " << pass << " " << percent << " %  " << RateText(rate);
        if (done > 0)
            out_ << "  " << DurationText(seconds * (1.0 - done) / done) << " left";
        out_ << std::flush;
        drawn_ = true;
        return;
    }
    const int tenth = percent / 10;
    if (tenth == lastTenth_)
        return;
    lastTenth_ = tenth;
    out_ << label_ << ": " << pass << " " << tenth * 10 << " % (" << RateText(rate) << ")\n"
         << std::flush;
}

void ProgressLine::Break() {
    if (terminal_ && drawn_)
        out_ << "\n" << std::flush;
    drawn_ = false;
}

void ProgressLine::End(const std::string& word) {
    if (terminal_ && drawn_)
        out_ << "\r\033[K";
    out_ << label_ << ": " << word << "\n" << std::flush;
    drawn_ = false;
}
