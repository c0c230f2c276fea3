#pragma once

// A Qt CAN device of the tests' own, behind a plugin name that the test process provides
// (QtCanPort::ProvidePlugin): like a SocketCAN adapter it holds at most ten frames in its
// transmit queue and refuses a frame while the queue is full, and it puts one frame on its
// wire every millisecond. A test can make it vanish as an unplugged adapter does, refuse a
// bit rate, and receive data and error frames.

#include "CanFrame.h"
#include "QtCanPort.h"
#include "QueuedCall.h"

#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QMetaObject>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace cantest {

// How the devices of a TestCanBus behave.
struct TestDeviceSettings {
    std::size_t queueLength = 10; // SocketCAN's default txqueuelen
    bool drains = true;           // false: nothing leaves the queue, ever
    // Refuses every frame as SocketCAN does once its interface is down, while it still
    // counts as connected.
    bool down = false;
    // A bit rate the device refuses, and whether it says so when the rate is set (as Qt's
    // plugins check what they can) or only when it connects.
    std::optional<std::uint32_t> refusedBitRate;
    bool refusesWhenConnecting = false;
};

// What the test sees of its devices: the frames that reached the wire, and the refusals.
// Every device made through Maker() belongs to it; they live on the CAN I/O thread.
class TestCanBus {
public:
    explicit TestCanBus(TestDeviceSettings settings = {}) : settings_(settings) {}
    // Waits for the devices that closed ports leave to be deleted on the I/O thread.
    ~TestCanBus() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(20), [&] { return devices_.empty(); });
    }
    TestCanBus(const TestCanBus&) = delete;
    TestCanBus& operator=(const TestCanBus&) = delete;

    const TestDeviceSettings& Settings() const { return settings_; }

    // What a port opened on the provided plugin makes its device with.
    bus::QtCanDeviceMaker Maker();

    // The frames on the wire, in their order.
    std::vector<bus::CanFrame> Wire() const {
        std::lock_guard lock(mutex_);
        return wire_;
    }
    // The first count frames on the wire, once they are there; what there is after a long
    // while else.
    std::vector<bus::CanFrame> WaitForWire(std::size_t count) const {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(20), [&] { return wire_.size() >= count; });
        return wire_;
    }
    // Returns once a device has refused a frame since the start (or after a long while).
    bool WaitForRefusal() const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return refusals_ > 0; });
    }
    std::size_t Devices() const {
        std::lock_guard lock(mutex_);
        return devices_.size();
    }
    // The bit rate the last device made was configured with (0: none).
    std::uint32_t LastBitRate() const {
        std::lock_guard lock(mutex_);
        return lastBitRate_;
    }

    // Every device alive now goes away as an unplugged adapter does: a connection error,
    // then unconnected. Returns once each has.
    void Vanish();
    // Every device alive now receives the frame (a data frame or an error frame).
    void Receive(const QCanBusFrame& frame);

private:
    class Device;
    friend class Device;

    const TestDeviceSettings settings_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<bus::CanFrame> wire_;
    std::size_t refusals_ = 0;
    std::uint32_t lastBitRate_ = 0;
    std::set<Device*> devices_; // those alive, each removed by its destructor under mutex_
    std::set<Device*> vanished_;
};

class TestCanBus::Device : public QCanBusDevice {
public:
    explicit Device(TestCanBus& bus) : bus_(bus) {
        std::lock_guard lock(bus_.mutex_);
        bus_.devices_.insert(this);
    }
    ~Device() override {
        std::lock_guard lock(bus_.mutex_);
        bus_.devices_.erase(this);
        bus_.vanished_.erase(this);
        bus_.changed_.notify_all();
    }

    void setConfigurationParameter(ConfigurationKey key, const QVariant& value) override {
        const TestDeviceSettings& s = bus_.settings_;
        if (key == BitRateKey && s.refusedBitRate && value.toUInt() == *s.refusedBitRate &&
            !s.refusesWhenConnecting) {
            setError(QStringLiteral("the adapter cannot run at %1 bit/s").arg(value.toUInt()),
                     ConfigurationError);
            return;
        }
        QCanBusDevice::setConfigurationParameter(key, value);
    }

    bool writeFrame(const QCanBusFrame& frame) override {
        if (state() != ConnectedState) {
            setError(QStringLiteral("not connected"), OperationError);
            return false;
        }
        if (bus_.settings_.down) {
            setError(qt_error_string(ENETDOWN), WriteError);
            return false;
        }
        if (queue_.size() >= bus_.settings_.queueLength) {
            {
                std::lock_guard lock(bus_.mutex_);
                ++bus_.refusals_;
            }
            bus_.changed_.notify_all();
            setError(qt_error_string(ENOBUFS), WriteError); // as SocketCAN says it
            return false;
        }
        queue_.push_back(frame);
        if (bus_.settings_.drains && !wire_.isActive())
            wire_.start();
        return true;
    }

    QString interpretErrorFrame(const QCanBusFrame&) override { return {}; }

    void Vanish() {
        setError(qt_error_string(ENODEV), ConnectionError);
        setState(UnconnectedState);
        std::lock_guard lock(bus_.mutex_);
        bus_.vanished_.insert(this);
        bus_.changed_.notify_all();
    }
    void Take(const QCanBusFrame& frame) { enqueueReceivedFrames({frame}); }

protected:
    bool open() override {
        const TestDeviceSettings& s = bus_.settings_;
        const std::uint32_t rate = configurationParameter(BitRateKey).toUInt();
        {
            std::lock_guard lock(bus_.mutex_);
            bus_.lastBitRate_ = rate;
        }
        if (s.refusedBitRate && s.refusesWhenConnecting && rate == *s.refusedBitRate)
            setError(QStringLiteral("the adapter cannot run at %1 bit/s").arg(rate),
                     ConfigurationError);
        wire_.setTimerType(Qt::PreciseTimer);
        wire_.setInterval(std::chrono::milliseconds(1));
        QObject::connect(&wire_, &QTimer::timeout, this, [this] { transmit(); });
        setState(ConnectedState);
        return true;
    }
    void close() override {
        wire_.stop();
        setState(UnconnectedState);
    }

private:
    // One frame from the queue onto the wire.
    void transmit() {
        if (queue_.empty()) {
            wire_.stop();
            return;
        }
        const QCanBusFrame frame = queue_.front();
        queue_.pop_front();
        const QByteArray payload = frame.payload();
        bus::CanFrame sent =
            frame.frameType() == QCanBusFrame::RemoteRequestFrame
                ? bus::CanFrame::Remote(static_cast<std::uint16_t>(frame.frameId()),
                                        static_cast<std::uint8_t>(payload.size()))
                : bus::CanFrame::Data(static_cast<std::uint16_t>(frame.frameId()),
                                      reinterpret_cast<const std::uint8_t*>(payload.constData()),
                                      static_cast<std::size_t>(payload.size()));
        {
            std::lock_guard lock(bus_.mutex_);
            bus_.wire_.push_back(sent);
        }
        bus_.changed_.notify_all();
        emit framesWritten(1);
    }

    TestCanBus& bus_;
    std::deque<QCanBusFrame> queue_;
    QTimer wire_;
};

inline bus::QtCanDeviceMaker TestCanBus::Maker() {
    return [this](const std::string&, std::string&) -> QCanBusDevice* {
        return new Device(*this);
    };
}

inline void TestCanBus::Vanish() {
    std::unique_lock lock(mutex_);
    const std::set<Device*> going = devices_;
    for (Device* device : going)
        bus::PostQueued(device, [device] { device->Vanish(); });
    // A device deleted before its turn has gone as well.
    changed_.wait_for(lock, std::chrono::seconds(20), [&] {
        for (Device* device : going)
            if (devices_.count(device) && !vanished_.count(device))
                return false;
        return true;
    });
}

inline void TestCanBus::Receive(const QCanBusFrame& frame) {
    std::lock_guard lock(mutex_);
    for (Device* device : devices_)
        bus::PostQueued(device, [device, frame] { device->Take(frame); });
}

// Provides the plugin of that name with the bus's devices while it lives, in place of Qt's
// plugin of the name.
class ProvidedPlugin {
public:
    ProvidedPlugin(std::string name, TestCanBus& bus) : name_(std::move(name)) {
        bus::QtCanPort::ProvidePlugin(name_, bus.Maker());
    }
    ~ProvidedPlugin() { bus::QtCanPort::ProvidePlugin(name_, {}); }
    ProvidedPlugin(const ProvidedPlugin&) = delete;
    ProvidedPlugin& operator=(const ProvidedPlugin&) = delete;

private:
    const std::string name_;
};

} // namespace cantest
