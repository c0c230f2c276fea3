#pragma once

#include <chrono>
#include <cstdint>

namespace copn {

// How much of the bus node supervision may take, and how far its periods stretch to stay
// within it. Supervision's traffic is counted in bits on the wire (worst-case stuffing):
// guarding (a remote request and its one-byte reply per round), SDO probes (a read of
// 0x1000 and its answer) and heartbeats. Guarding and probes run at periods the master
// chooses and stretch by one factor; heartbeats come at the node's own rate and only take
// their share first.
class SupervisionBudget {
public:
    static constexpr unsigned DefaultSharePercent = 10;
    // The longest guard time a node takes (0x100C is 16 bits of milliseconds).
    static constexpr std::chrono::milliseconds LongestPeriod{65535};

    static std::uint32_t GuardRoundBits();
    static std::uint32_t HeartbeatBits();
    static std::uint32_t ProbeBits();

    // What supervision would send at the master's own periods, in bits per second.
    struct Load {
        double stretchable = 0; // guarding and probes
        double fixed = 0;       // heartbeats
        void AddGuarding(std::chrono::milliseconds requestPeriod);
        void AddProbe(std::chrono::milliseconds probePeriod);
        void AddHeartbeat(std::chrono::milliseconds producerTime);
    };

    // bitRate in bit/s (0: unknown, taken as 500 kbit/s); sharePercent from 1 to 100.
    SupervisionBudget(std::uint32_t bitRate = 0, unsigned sharePercent = DefaultSharePercent);

    std::uint32_t BitRate() const { return bitRate_; }
    unsigned SharePercent() const { return sharePercent_; }
    // Bits per second supervision may take.
    double BitsPerSecond() const { return double(bitRate_) * sharePercent_ / 100.0; }

    // The factor (1 or more) by which the stretchable periods grow so that the load fits.
    double Stretch(const Load& load) const;
    // A period stretched, in whole milliseconds (rounded up), at most LongestPeriod.
    static std::chrono::milliseconds Stretched(std::chrono::milliseconds period, double stretch);

private:
    std::uint32_t bitRate_;
    unsigned sharePercent_;
};

} // namespace copn
