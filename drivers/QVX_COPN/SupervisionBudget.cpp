#include "SupervisionBudget.h"

#include "CanFrame.h"
#include "WireTiming.h"

#include <algorithm>
#include <cmath>

namespace copn {

using bus::CanFrame;
using bus::FrameBits;
using bus::Stuffing;

namespace {

constexpr std::uint32_t AssumedBitRate = 500000;

double perSecond(std::uint32_t bits, std::chrono::milliseconds period) {
    return period.count() > 0 ? bits * 1000.0 / double(period.count()) : 0.0;
}

} // namespace

std::uint32_t SupervisionBudget::GuardRoundBits() {
    static const std::uint32_t bits = FrameBits(CanFrame::Remote(0x77F, 1), Stuffing::WorstCase) +
                                      FrameBits(CanFrame::Data(0x77F, {0x85}), Stuffing::WorstCase);
    return bits;
}

std::uint32_t SupervisionBudget::HeartbeatBits() {
    static const std::uint32_t bits = FrameBits(CanFrame::Data(0x77F, {0x05}), Stuffing::WorstCase);
    return bits;
}

std::uint32_t SupervisionBudget::ProbeBits() {
    static const std::uint32_t bits =
        2 * FrameBits(CanFrame::Data(0x67F, {0x40, 0, 0x10, 0, 0, 0, 0, 0}), Stuffing::WorstCase);
    return bits;
}

void SupervisionBudget::Load::AddGuarding(std::chrono::milliseconds requestPeriod) {
    stretchable += perSecond(GuardRoundBits(), requestPeriod);
}

void SupervisionBudget::Load::AddProbe(std::chrono::milliseconds probePeriod) {
    stretchable += perSecond(ProbeBits(), probePeriod);
}

void SupervisionBudget::Load::AddHeartbeat(std::chrono::milliseconds producerTime) {
    fixed += perSecond(HeartbeatBits(), producerTime);
}

SupervisionBudget::SupervisionBudget(std::uint32_t bitRate, unsigned sharePercent)
    : bitRate_(bitRate ? bitRate : AssumedBitRate),
      sharePercent_(std::clamp(sharePercent, 1u, 100u)) {}

double SupervisionBudget::Stretch(const Load& load) const {
    if (load.stretchable <= 0)
        return 1.0;
    // Heartbeats come whatever the master does; what they leave is the rest's, but never
    // less than a tenth of the share, so that guarding goes on at the longest periods.
    const double left = std::max(BitsPerSecond() - load.fixed, BitsPerSecond() / 10);
    return std::max(1.0, load.stretchable / left);
}

std::chrono::milliseconds SupervisionBudget::Stretched(std::chrono::milliseconds period,
                                                       double stretch) {
    const double ms = std::ceil(double(period.count()) * std::max(stretch, 1.0));
    return std::chrono::milliseconds(
        static_cast<std::int64_t>(std::min(ms, double(LongestPeriod.count()))));
}

} // namespace copn
