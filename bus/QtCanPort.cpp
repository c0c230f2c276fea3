#include "QtCanPort.h"

#include "CanTrace.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QCoreApplication>
#include <QEventLoop>
#include <QVariant>
#include <condition_variable>
#include <functional>
#include <map>
#include <thread>

namespace bus {

namespace {

// The thread that owns every Qt CAN device of the process: one thread for all of them, for
// as long as the application object lives. The virtualcan plugin serves its bus from the
// thread that first opened a channel, so that thread must not end while other processes or
// ports may still use the bus.
class IoThread {
public:
    static IoThread& Instance() {
        static IoThread* instance = new IoThread; // may still be asked while the process exits
        return *instance;
    }

    // Starts the thread unless it runs; false, with the reason, without an application.
    bool Ensure(std::string& error) {
        std::unique_lock lock(mutex_);
        if (running_)
            return true;
        if (!QCoreApplication::instance()) {
            error = "a Qt CAN device needs a Qt application object, and there is none";
            return false;
        }
        if (thread_.joinable())
            thread_.join(); // the thread of an application object that is gone
        started_ = false;
        thread_ = std::thread([this] { run(); });
        startedChanged_.wait(lock, [this] { return started_; });
        qAddPostRoutine(&IoThread::stopInstance);
        return true;
    }

    // Runs the task on the thread, later; false (never run) when the thread does not run.
    bool Post(std::function<void()> task) {
        std::lock_guard lock(mutex_);
        if (!running_)
            return false;
        QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
        return true;
    }

    bool OnThread() const { return std::this_thread::get_id() == id_.load(); }

    // On the thread only: the object that posted tasks run on, and the closers of the
    // devices alive now, run when the thread ends.
    QObject* Context() const { return context_; }
    void AddCloser(const void* key, std::function<void()> closer) {
        closers_[key] = std::move(closer);
    }
    void RemoveCloser(const void* key) { closers_.erase(key); }

private:
    static void stopInstance() { Instance().stop(); }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            if (!running_)
                return;
            running_ = false; // nothing is posted from now on
            QMetaObject::invokeMethod(
                context_, [this] { loop_->quit(); }, Qt::QueuedConnection);
        }
        thread_.join();
    }

    void run() {
        id_.store(std::this_thread::get_id());
        {
            QEventLoop loop;
            QObject context;
            {
                std::lock_guard lock(mutex_);
                loop_ = &loop;
                context_ = &context;
                running_ = true;
                started_ = true;
            }
            startedChanged_.notify_all();
            loop.exec();
            // Tasks posted before the stop still run (a Close waits for its own), then the
            // devices left open are closed and deleted here, on their thread.
            QCoreApplication::sendPostedEvents();
            while (!closers_.empty()) {
                auto closer = std::move(closers_.begin()->second);
                closers_.erase(closers_.begin());
                closer();
            }
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            std::lock_guard lock(mutex_);
            loop_ = nullptr;
            context_ = nullptr;
        }
        id_.store(std::thread::id{});
    }

    std::mutex mutex_;
    std::condition_variable startedChanged_;
    bool started_ = false;
    bool running_ = false;
    std::thread thread_;
    std::atomic<std::thread::id> id_{};
    QObject* context_ = nullptr;
    QEventLoop* loop_ = nullptr;
    std::map<const void*, std::function<void()>> closers_;
};

// A frame as the port hands it on; nothing for what a classic 11-bit port does not carry.
std::optional<CanFrame> fromQt(const QCanBusFrame& frame) {
    const bool remote = frame.frameType() == QCanBusFrame::RemoteRequestFrame;
    if ((frame.frameType() != QCanBusFrame::DataFrame && !remote) ||
        frame.hasExtendedFrameFormat() || frame.hasFlexibleDataRateFormat() ||
        frame.frameId() > CanFrame::MaxId || frame.payload().size() > CanFrame::MaxLength)
        return std::nullopt;
    const QByteArray payload = frame.payload();
    if (remote)
        return CanFrame::Remote(static_cast<std::uint16_t>(frame.frameId()),
                                static_cast<std::uint8_t>(payload.size()));
    return CanFrame::Data(static_cast<std::uint16_t>(frame.frameId()),
                          reinterpret_cast<const std::uint8_t*>(payload.constData()),
                          static_cast<std::size_t>(payload.size()));
}

QCanBusFrame toQt(const CanFrame& frame) {
    // A remote request's payload only gives the length it asks for.
    QByteArray payload(frame.length, '\0');
    if (!frame.remote)
        std::copy(frame.data.begin(), frame.data.begin() + frame.length, payload.begin());
    QCanBusFrame qt(frame.id, payload);
    if (frame.remote)
        qt.setFrameType(QCanBusFrame::RemoteRequestFrame);
    return qt;
}

} // namespace

// What the port shares with the I/O thread.
struct QtCanPort::Device {
    std::atomic<PortState> state{PortState::Closed};

    // Until Open has its answer.
    std::mutex mutex;
    std::condition_variable settledChanged;
    bool settled = false;
    bool connected = false;
    std::string error;

    // Used on the I/O thread only.
    QCanBusDevice* qt = nullptr;
    QtCanPort* owner = nullptr; // cleared when the port closes: nothing is delivered after
    std::shared_ptr<CanTrace> trace;
    std::string name;
    bool listenOnly = false;

    void Settle(bool ok, std::string message) {
        {
            std::lock_guard lock(mutex);
            if (settled)
                return;
            settled = true;
            connected = ok;
            error = std::move(message);
        }
        settledChanged.notify_all();
    }

    void ReportError(const std::string& message) {
        if (owner)
            owner->SetError(message);
    }

    PortState RunningState() const {
        return listenOnly ? PortState::ListenOnly : PortState::Active;
    }

    static void Open(const std::shared_ptr<Device>& device, const QString& plugin,
                     const QString& interfaceName, const QtCanPortOptions& options);
    static void Close(const std::shared_ptr<Device>& device);
    static void Write(const std::shared_ptr<Device>& device, const CanFrame& frame);
    static void Receive(const std::shared_ptr<Device>& device);
    static void ErrorFrame(const std::shared_ptr<Device>& device, const QCanBusFrame& frame);
};

void QtCanPort::Device::Open(const std::shared_ptr<Device>& device, const QString& plugin,
                             const QString& interfaceName, const QtCanPortOptions& options) {
    if (!QCanBus::instance()->plugins().contains(plugin)) {
        device->Settle(false, "the Qt CAN plugin is not installed");
        return;
    }
    QString error;
    QCanBusDevice* qt = QCanBus::instance()->createDevice(plugin, interfaceName, &error);
    if (!qt) {
        device->Settle(false, error.toStdString());
        return;
    }
    device->qt = qt;
    IoThread::Instance().AddCloser(device.get(), [device] { Close(device); });
    if (qt->error() != QCanBusDevice::NoError) {
        // A device may be made for a name it cannot serve (virtualcan: a channel it lacks).
        device->Settle(false, qt->errorString().toStdString());
        Close(device);
        return;
    }
    if (options.bitRate != 0)
        qt->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant(options.bitRate));

    QObject::connect(qt, &QCanBusDevice::framesReceived, qt, [device] { Receive(device); });
    QObject::connect(qt, &QCanBusDevice::errorOccurred, qt,
                     [device](QCanBusDevice::CanBusError kind) {
                         if (!device->qt)
                             return;
                         const std::string message = device->qt->errorString().toStdString();
                         device->ReportError(message);
                         if (kind == QCanBusDevice::ConnectionError)
                             device->Settle(false, message);
                         if (device->qt->hasBusStatus() &&
                             device->qt->busStatus() == QCanBusDevice::CanBusStatus::BusOff)
                             device->state.store(PortState::BusOff);
                     });
    QObject::connect(
        qt, &QCanBusDevice::stateChanged, qt, [device](QCanBusDevice::CanBusDeviceState state) {
            if (state == QCanBusDevice::ConnectedState) {
                PortState now = device->RunningState();
                if (device->qt->hasBusStatus()) {
                    const auto status = device->qt->busStatus();
                    if (status == QCanBusDevice::CanBusStatus::BusOff)
                        now = PortState::BusOff;
                    else if (status == QCanBusDevice::CanBusStatus::Error && !device->listenOnly)
                        now = PortState::ErrorPassive;
                }
                device->state.store(now);
                device->Settle(true, {});
            } else if (state == QCanBusDevice::UnconnectedState) {
                device->state.store(PortState::Closed);
                std::string message = device->qt->errorString().toStdString();
                if (message.empty())
                    message = "the CAN device " + device->name + " disconnected";
                device->ReportError(message);
                device->Settle(false, message);
            }
        });

    if (!qt->connectDevice()) {
        std::string message = qt->errorString().toStdString();
        if (message.empty())
            message = "the device does not connect";
        device->Settle(false, message);
        Close(device);
        return;
    }
    // Devices that connect at once have said so already; the others will.
}

void QtCanPort::Device::Close(const std::shared_ptr<Device>& device) {
    IoThread::Instance().RemoveCloser(device.get());
    device->owner = nullptr;
    device->state.store(PortState::Closed);
    QCanBusDevice* qt = std::exchange(device->qt, nullptr);
    if (!qt)
        return;
    QObject::disconnect(qt, nullptr, nullptr, nullptr);
    if (qt->state() != QCanBusDevice::UnconnectedState)
        qt->disconnectDevice();
    qt->deleteLater(); // perhaps called from inside one of its own signals
}

void QtCanPort::Device::Write(const std::shared_ptr<Device>& device, const CanFrame& frame) {
    if (!device->qt)
        return;
    if (!device->qt->writeFrame(toQt(frame))) {
        std::string message = device->qt->errorString().toStdString();
        device->ReportError(message.empty() ? "the CAN device refused frame " + ToCandump(frame)
                                            : message);
        return;
    }
    if (device->trace)
        device->trace->Record(device->name, frame);
}

void QtCanPort::Device::Receive(const std::shared_ptr<Device>& device) {
    // The handler may close the port: look again before every frame.
    while (device->qt && device->qt->framesAvailable()) {
        const QCanBusFrame qt = device->qt->readFrame();
        if (qt.frameType() == QCanBusFrame::ErrorFrame) {
            ErrorFrame(device, qt);
            continue;
        }
        const std::optional<CanFrame> frame = fromQt(qt);
        if (!frame || !device->owner)
            continue;
        if (device->trace)
            device->trace->Record(device->name, *frame);
        device->owner->Deliver(*frame);
    }
}

void QtCanPort::Device::ErrorFrame(const std::shared_ptr<Device>& device,
                                   const QCanBusFrame& frame) {
    const QCanBusFrame::FrameErrors errors = frame.error();
    if (errors & QCanBusFrame::BusOffError) {
        device->state.store(PortState::BusOff);
        device->ReportError("the CAN controller is bus-off");
    } else if (errors & QCanBusFrame::ControllerRestartError) {
        device->state.store(device->RunningState());
    } else if (errors & QCanBusFrame::ControllerError) {
        // Byte 1 of a controller error: 0x10 / 0x20 receive / transmit error passive,
        // 0x40 error active again.
        const QByteArray payload = frame.payload();
        const auto detail = payload.size() > 1 ? static_cast<std::uint8_t>(payload[1]) : 0;
        if ((detail & 0x30) && !device->listenOnly && device->state.load() != PortState::BusOff)
            device->state.store(PortState::ErrorPassive);
        else if (detail & 0x40)
            device->state.store(device->RunningState());
    }
}

QtCanPort::QtCanPort(std::string plugin, std::string interfaceName, QtCanPortOptions options)
    : plugin_(std::move(plugin)), interface_(std::move(interfaceName)), options_(options) {}

QtCanPort::~QtCanPort() {
    Close();
}

bool QtCanPort::Open() {
    std::lock_guard openLock(openMutex_);
    {
        std::lock_guard lock(mutex_);
        if (device_ && device_->state.load() != PortState::Closed)
            return true;
    }
    IoThread& io = IoThread::Instance();
    if (io.OnThread()) {
        SetError("a Qt CAN port cannot be opened on the CAN I/O thread");
        return false;
    }
    std::string error;
    if (!io.Ensure(error)) {
        SetError(error);
        return false;
    }
    auto device = std::make_shared<Device>();
    device->owner = this;
    device->name = interface_;
    device->listenOnly = options_.listenOnly;
    device->trace = CanTrace::FromEnvironment();
    const QString plugin = QString::fromStdString(plugin_);
    const QString interfaceName = QString::fromStdString(interface_);
    const QtCanPortOptions options = options_;
    if (!io.Post([device, plugin, interfaceName, options] {
            Device::Open(device, plugin, interfaceName, options);
        })) {
        SetError("the CAN I/O thread has ended");
        return false;
    }
    bool connected = false;
    {
        std::unique_lock lock(device->mutex);
        if (!device->settledChanged.wait_for(lock, options_.connectTimeout,
                                             [&] { return device->settled; }))
            error = "it did not connect within " + std::to_string(options_.connectTimeout.count()) +
                    " ms";
        else if (!device->connected)
            error = device->error;
        else
            connected = true;
    }
    if (!connected) {
        closeDevice(device);
        SetError("cannot open the CAN interface " + interface_ + " (Qt plugin " + plugin_ +
                 "): " + error);
        return false;
    }
    std::lock_guard lock(mutex_);
    device_ = std::move(device);
    return true;
}

void QtCanPort::Close() {
    std::lock_guard openLock(openMutex_);
    std::shared_ptr<Device> device;
    {
        std::lock_guard lock(mutex_);
        device = std::move(device_);
    }
    if (device)
        closeDevice(device);
}

void QtCanPort::closeDevice(const std::shared_ptr<Device>& device) {
    IoThread& io = IoThread::Instance();
    if (io.OnThread()) {
        Device::Close(device);
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneChanged;
    bool done = false;
    if (!io.Post([&, device] {
            Device::Close(device);
            {
                std::lock_guard lock(doneMutex);
                done = true;
            }
            doneChanged.notify_all();
        })) {
        device->state.store(PortState::Closed); // the thread has closed it already
        return;
    }
    std::unique_lock lock(doneMutex);
    doneChanged.wait(lock, [&] { return done; });
}

PortState QtCanPort::State() const {
    std::lock_guard lock(mutex_);
    return device_ ? device_->state.load() : PortState::Closed;
}

bool QtCanPort::SendFrame(const CanFrame& frame) {
    std::shared_ptr<Device> device;
    {
        std::lock_guard lock(mutex_);
        device = device_;
    }
    const PortState state = device ? device->state.load() : PortState::Closed;
    switch (state) {
    case PortState::Closed:
        SetError("the CAN port " + interface_ + " is not open");
        return false;
    case PortState::BusOff:
        SetError("the CAN controller of " + interface_ + " is bus-off");
        return false;
    case PortState::ListenOnly:
        SetError("the CAN port " + interface_ + " only listens");
        return false;
    case PortState::Active:
    case PortState::ErrorPassive:
        break;
    }
    if (!IoThread::Instance().Post([device, frame] { Device::Write(device, frame); })) {
        SetError("the CAN I/O thread has ended");
        return false;
    }
    return true;
}

std::vector<std::string> QtCanPort::AvailablePlugins() {
    std::vector<std::string> names;
    for (const QString& name : QCanBus::instance()->plugins())
        names.push_back(name.toStdString());
    return names;
}

} // namespace bus
