#include "DevicenetSimulation.h"

#include "DataFolder.h"
#include "DevicenetNetworkFile.h"
#include "FolderLock.h"
#include "NetworkFile.h"
#include "NodeNetwork.h"
#include "StateFiles.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace sim {

using bus::devicenet::NoDeadline;
using bus::devicenet::Output;
using bus::devicenet::TimePoint;

class DevicenetSimulationImpl {
public:
    DevicenetSimulationImpl(std::unique_ptr<FolderLock> lock, std::unique_ptr<bus::CanPort> port,
                            const std::string& folder, NodeClock clock,
                            const std::vector<DevicenetNodeSettings>& nodes)
        : lock_(std::move(lock)), port_(std::move(port)), clock_(std::move(clock)),
          network_(folder, clock_) {
        for (const DevicenetNodeSettings& settings : nodes) {
            const std::uint8_t mac = settings.macId;
            const NodeMode mode = settings.factoryMode;
            network_.Add(mac, settings.flash,
                         [mode](FlashNode& node) { LeaveDevicenetFactory(node, mode); });
            nodes_[mac] = std::make_unique<DevicenetNode>(
                settings, [this, mac](std::string* error) { return network_.Node(mac, error); });
        }
    }

    ~DevicenetSimulationImpl() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (timer_.joinable())
            timer_.join();
        port_->SetReceiveHandler({}); // returns once no frame is being handled
    }

    void Start() {
        std::lock_guard lock(mutex_);
        const TimePoint now = clock_();
        for (auto& [mac, node] : nodes_)
            send(node->PowerOn(now));
        port_->SetReceiveHandler([this](const bus::CanFrame& frame) { onFrame(frame); });
        timer_ = std::thread([this] { runTimer(); });
    }

    std::vector<std::uint8_t> MacIds() const {
        std::vector<std::uint8_t> macs;
        for (const auto& [mac, node] : nodes_)
            macs.push_back(mac);
        return macs;
    }

    void Poke() {
        {
            std::lock_guard lock(mutex_);
            poked_ = true;
        }
        wake_.notify_all();
    }

private:
    // Sends what a node asks to; true when its deadline comes before the timer's.
    bool send(const Output& output) {
        for (const bus::CanFrame& frame : output.frames)
            port_->Send(frame);
        return output.deadline < waitingUntil_;
    }

    void onFrame(const bus::CanFrame& frame) {
        // Every Group 2 frame carries the MAC ID of one node: the one it is for, or the one
        // that sent it (whose namesake here then hears of a duplicate).
        const auto address = bus::devicenet::ParseGroup2Id(frame.id);
        if (!address)
            return;
        bool sooner = false;
        {
            std::lock_guard lock(mutex_);
            if (stop_)
                return;
            if (auto it = nodes_.find(address->mac); it != nodes_.end())
                sooner = send(it->second->OnFrame(frame, clock_()));
        }
        if (sooner)
            wake_.notify_all();
    }

    void runTimer() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            const TimePoint now = clock_();
            TimePoint next = NoDeadline;
            for (auto& [mac, node] : nodes_) {
                const Output output = node->OnTime(now);
                send(output);
                next = std::min(next, output.deadline);
            }
            waitingUntil_ = next;
            const auto woken = [this] {
                return stop_ || poked_;
            };
            if (next == NoDeadline) {
                wake_.wait(lock, woken);
            } else {
                // The clock may be a test's: wait in real time, at most a second at a time.
                const auto wait = std::clamp<std::chrono::nanoseconds>(
                    next - clock_(), std::chrono::nanoseconds(0), std::chrono::seconds(1));
                wake_.wait_for(lock, wait, woken);
            }
            poked_ = false;
            waitingUntil_ = NoDeadline;
        }
    }

    std::unique_ptr<FolderLock> lock_; // one process serves a network
    std::unique_ptr<bus::CanPort> port_;
    NodeClock clock_;
    NodeNetwork network_;
    std::map<std::uint8_t, std::unique_ptr<DevicenetNode>> nodes_;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    bool poked_ = false;
    TimePoint waitingUntil_ = NoDeadline;
    std::thread timer_;
};

std::unique_ptr<DevicenetSimulation> DevicenetSimulation::Start(std::unique_ptr<bus::CanPort> port,
                                                                const std::string& networkFolder,
                                                                std::string* error,
                                                                NodeClock clock) {
    std::unique_ptr<FolderLock> lock;
    std::string text, path;
    if (!TakeNetworkFolder(networkFolder, DefaultDevicenetNetwork, &lock, &text, &path, error))
        return nullptr;
    std::vector<DevicenetNodeSettings> nodes;
    if (!ParseDevicenetNetwork(text, path, &nodes, error))
        return nullptr;
    auto impl = std::make_unique<DevicenetSimulationImpl>(std::move(lock), std::move(port),
                                                          networkFolder, clock, nodes);
    impl->Start();
    return std::unique_ptr<DevicenetSimulation>(new DevicenetSimulation(std::move(impl)));
}

DevicenetSimulation::DevicenetSimulation(std::unique_ptr<DevicenetSimulationImpl> impl)
    : impl_(std::move(impl)) {}

DevicenetSimulation::~DevicenetSimulation() = default;

std::vector<std::uint8_t> DevicenetSimulation::MacIds() const {
    return impl_->MacIds();
}

void DevicenetSimulation::Poke() {
    impl_->Poke();
}

std::string DefaultDevicenetNetworkFolder() {
    const std::string base = ZandrelDataFolder();
    return base.empty() ? "" : base + "/devicenet-network";
}

} // namespace sim
