#include "CanopenSimulation.h"

#include "CanopenNetworkFile.h"
#include "DataFolder.h"
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

using bus::canopen::NoDeadline;
using bus::canopen::Output;
using bus::canopen::TimePoint;

class CanopenSimulationImpl {
public:
    CanopenSimulationImpl(std::unique_ptr<FolderLock> lock, std::unique_ptr<bus::CanPort> port,
                          const std::string& folder, NodeClock clock,
                          const std::vector<CanopenNodeSettings>& nodes)
        : lock_(std::move(lock)), port_(std::move(port)), clock_(std::move(clock)),
          network_(folder, clock_) {
        for (const CanopenNodeSettings& settings : nodes) {
            const std::uint8_t id = settings.nodeId;
            network_.Add(id, settings.flash, LeaveCanopenFactory);
            nodes_[id] = std::make_unique<CanopenNode>(
                settings, [this, id](std::string* error) { return network_.Node(id, error); });
        }
    }

    ~CanopenSimulationImpl() {
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
        for (auto& [id, node] : nodes_)
            send(node->PowerOn());
        port_->SetReceiveHandler([this](const bus::CanFrame& frame) { onFrame(frame); });
        timer_ = std::thread([this] { runTimer(); });
    }

    std::vector<std::uint8_t> NodeIds() const {
        std::vector<std::uint8_t> ids;
        for (const auto& [id, node] : nodes_)
            ids.push_back(id);
        return ids;
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
        bool sooner = false;
        {
            std::lock_guard lock(mutex_);
            if (stop_)
                return;
            const TimePoint now = clock_();
            if (frame.id == bus::canopen::NmtCobId) {
                for (auto& [id, node] : nodes_)
                    sooner = send(node->OnFrame(frame, now)) || sooner;
            } else if (auto it = nodes_.find(static_cast<std::uint8_t>(frame.id & 0x7F));
                       it != nodes_.end()) {
                sooner = send(it->second->OnFrame(frame, now));
            }
        }
        if (sooner)
            wake_.notify_all();
    }

    void runTimer() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            const TimePoint now = clock_();
            TimePoint next = NoDeadline;
            for (auto& [id, node] : nodes_) {
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
    std::map<std::uint8_t, std::unique_ptr<CanopenNode>> nodes_;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    bool poked_ = false;
    TimePoint waitingUntil_ = NoDeadline;
    std::thread timer_;
};

std::unique_ptr<CanopenSimulation> CanopenSimulation::Start(std::unique_ptr<bus::CanPort> port,
                                                            const std::string& networkFolder,
                                                            std::string* error, NodeClock clock) {
    std::unique_ptr<FolderLock> lock;
    std::string text, path;
    if (!TakeNetworkFolder(networkFolder, DefaultCanopenNetwork, &lock, &text, &path, error))
        return nullptr;
    std::vector<CanopenNodeSettings> nodes;
    if (!ParseCanopenNetwork(text, path, &nodes, error))
        return nullptr;
    auto impl = std::make_unique<CanopenSimulationImpl>(std::move(lock), std::move(port),
                                                        networkFolder, clock, nodes);
    impl->Start();
    return std::unique_ptr<CanopenSimulation>(new CanopenSimulation(std::move(impl)));
}

CanopenSimulation::CanopenSimulation(std::unique_ptr<CanopenSimulationImpl> impl)
    : impl_(std::move(impl)) {}

CanopenSimulation::~CanopenSimulation() = default;

std::vector<std::uint8_t> CanopenSimulation::NodeIds() const {
    return impl_->NodeIds();
}

void CanopenSimulation::Poke() {
    impl_->Poke();
}

std::string DefaultCanopenNetworkFolder() {
    const std::string base = ZandrelDataFolder();
    return base.empty() ? "" : base + "/canopen-network";
}

} // namespace sim
