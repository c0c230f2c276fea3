#include "QtCanPort.h"

#include "CanTrace.h"
#include "QueuedCall.h"

#include <QAbstractSocket>
#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QVariant>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
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
        PostQueued(context_, std::move(task));
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
            PostQueued(context_, [this] { loop_->quit(); });
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

// The plugins the process provides itself, by name.
struct ProvidedPlugins {
    std::mutex mutex;
    std::map<std::string, QtCanDeviceMaker> makers;
};

ProvidedPlugins& providedPlugins() {
    static ProvidedPlugins* plugins = new ProvidedPlugins; // may be asked while the process exits
    return *plugins;
}

QtCanDeviceMaker providedMaker(const std::string& plugin) {
    ProvidedPlugins& provided = providedPlugins();
    std::lock_guard lock(provided.mutex);
    const auto it = provided.makers.find(plugin);
    return it == provided.makers.end() ? QtCanDeviceMaker{} : it->second;
}

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

// When the device saw the frame: its own time stamp when it gives one (SocketCAN's is the
// kernel's wall-clock time of reception), else now.
std::chrono::system_clock::time_point stampOf(const QCanBusFrame& frame) {
    using namespace std::chrono;
    const QCanBusFrame::TimeStamp stamp = frame.timeStamp();
    if (stamp.seconds() == 0 && stamp.microSeconds() == 0)
        return system_clock::now();
    return system_clock::time_point(duration_cast<system_clock::duration>(
        seconds(stamp.seconds()) + microseconds(stamp.microSeconds())));
}

// Whether a device's refusal says that it is gone, not that its queue is full: SocketCAN
// stays "connected" when its interface is taken down or unplugged, and its writes fail with
// these.
bool saysDeviceGone(const QString& reason) {
    for (const int code : {ENODEV, ENXIO, ENETDOWN})
        if (reason == qt_error_string(code))
            return true;
    return false;
}

} // namespace

// A frame that waits for the device, on the stack of the Send that waits for it.
struct QtCanPort::Outgoing {
    enum class Result : std::uint8_t { Waiting, Sent, Failed };

    CanFrame frame;
    std::uint64_t number = 0; // in the order Send took them
    std::chrono::steady_clock::time_point deadline;
    std::chrono::milliseconds patience{0};
    std::atomic<Result> result{Result::Waiting};
    std::string error; // set before result, under txMutex
};

// What the port shares with the I/O thread and its delivery thread.
struct QtCanPort::Device {
    std::atomic<PortState> state{PortState::Closed};

    // Until Open has its answer.
    std::mutex mutex;
    std::condition_variable settledChanged;
    bool settled = false;
    bool connected = false;
    std::string error;

    // The frames that wait for the device, in the order Send took them; each Send waits for
    // its own. A drain on the I/O thread offers them to the device.
    std::mutex txMutex;
    std::condition_variable txChanged;
    std::deque<Outgoing*> tx;
    std::uint64_t txNumber = 0;
    bool drainPending = false; // a drain is posted, or its retry timer runs
    bool txClosed = false;     // no frame is taken any more, for txClosedReason
    std::string txClosedReason;

    // The frames received, for the delivery thread.
    std::mutex rxMutex;
    std::condition_variable rxChanged;
    std::deque<CanFrame> rx;
    std::atomic<bool> rxStop{false};
    std::thread delivery;

    // Used on the I/O thread only.
    QCanBusDevice* qt = nullptr;
    QTimer* retry = nullptr;
    QtCanPort* owner = nullptr; // cleared when the port closes: errors are not reported after
    std::shared_ptr<CanTrace> trace;
    std::string name;
    bool listenOnly = false;
    std::string configurationError;    // the device refused its configuration while connecting
    QAbstractSocket* socket = nullptr; // of a device that reaches its bus over TCP (virtualcan)

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

    // Fails every frame that waits, and every later one, for the reason.
    void CloseTransmit(const std::string& reason) {
        {
            std::lock_guard lock(txMutex);
            if (!txClosed) {
                txClosed = true;
                txClosedReason = reason;
            }
            for (Outgoing* out : tx) {
                out->error = reason;
                out->result.store(Outgoing::Result::Failed);
            }
            tx.clear();
        }
        txChanged.notify_all();
    }

    // The frame numbered so has had its answer, when it still waits (a close may have failed
    // it meanwhile).
    void Finish(std::uint64_t number, bool sent, std::string error) {
        {
            std::lock_guard lock(txMutex);
            if (tx.empty() || tx.front()->number != number)
                return;
            Outgoing* out = tx.front();
            tx.pop_front();
            out->error = std::move(error);
            out->result.store(sent ? Outgoing::Result::Sent : Outgoing::Result::Failed);
        }
        txChanged.notify_all();
    }

    // The device has gone, or reports that it cannot go on: the port is closed until it is
    // opened again.
    void Lost(const std::string& reason) {
        state.store(PortState::Closed);
        ReportError(reason);
        Settle(false, reason);
        CloseTransmit(reason);
        if (retry)
            retry->stop();
    }

    // A device that carries frames over TCP (virtualcan: one line a frame, relayed by the
    // process that serves the bus) sends each frame at once rather than behind the last one,
    // and the relay that sends to it is not kept waiting: Nagle's algorithm holds a small
    // segment back until the one before it is acknowledged, and the kernel delays
    // acknowledgements by up to 40 ms — per frame, when a node answers with two in a row.
    void TuneSocket() {
        socket = qt ? qt->findChild<QAbstractSocket*>() : nullptr;
        if (socket)
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    }
    // After frames came in: acknowledge them now.
    void AcknowledgeAtOnce() const {
        if (!socket)
            return;
        const qintptr fd = socket->socketDescriptor();
        const int on = 1;
        if (fd != -1)
            ::setsockopt(static_cast<int>(fd), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    }

    void Deliver(QtCanPort* port) {
        std::deque<CanFrame> batch;
        for (;;) {
            {
                std::unique_lock lock(rxMutex);
                rxChanged.wait(lock, [&] { return rxStop.load() || !rx.empty(); });
                batch.swap(rx);
            }
            for (const CanFrame& frame : batch) {
                if (rxStop.load())
                    return;
                port->Deliver(frame);
            }
            if (rxStop.load())
                return;
            batch.clear();
        }
    }

    static void Open(const std::shared_ptr<Device>& device, const std::string& plugin,
                     const QString& interfaceName, const QtCanPortOptions& options);
    static void Close(const std::shared_ptr<Device>& device);
    static void Drain(const std::shared_ptr<Device>& device);
    static void Receive(const std::shared_ptr<Device>& device);
    static void ErrorFrame(const std::shared_ptr<Device>& device, const QCanBusFrame& frame);
};

void QtCanPort::Device::Open(const std::shared_ptr<Device>& device, const std::string& plugin,
                             const QString& interfaceName, const QtCanPortOptions& options) {
    QCanBusDevice* qt = nullptr;
    if (const QtCanDeviceMaker maker = providedMaker(plugin)) {
        std::string error;
        qt = maker(interfaceName.toStdString(), error);
        if (!qt) {
            device->Settle(false, error.empty() ? "the device cannot be made" : error);
            return;
        }
    } else {
        const QString name = QString::fromStdString(plugin);
        if (!QCanBus::instance()->plugins().contains(name)) {
            device->Settle(false, "the Qt CAN plugin is not installed");
            return;
        }
        QString error;
        qt = QCanBus::instance()->createDevice(name, interfaceName, &error);
        if (!qt) {
            device->Settle(false, error.toStdString());
            return;
        }
    }
    device->qt = qt;
    IoThread::Instance().AddCloser(device.get(), [device] { Close(device); });
    if (qt->error() != QCanBusDevice::NoError) {
        // A device may be made for a name it cannot serve (virtualcan: a channel it lacks).
        device->Settle(false, qt->errorString().toStdString());
        Close(device);
        return;
    }
    if (options.bitRate != 0) {
        qt->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant(options.bitRate));
        // A device that cannot run at the rate says so, or keeps another; one that keeps none
        // has no bit rate of its own to set (virtualcan).
        const QVariant kept = qt->configurationParameter(QCanBusDevice::BitRateKey);
        if (qt->error() == QCanBusDevice::ConfigurationError ||
            (kept.isValid() && kept.toUInt() != options.bitRate)) {
            std::string message =
                "the device cannot be set to " + std::to_string(options.bitRate) + " bit/s";
            if (qt->error() == QCanBusDevice::ConfigurationError)
                message += ": " + qt->errorString().toStdString();
            device->Settle(false, message);
            Close(device);
            return;
        }
    }

    device->retry = new QTimer;
    device->retry->setSingleShot(true);
    device->retry->setTimerType(Qt::PreciseTimer);
    device->retry->setInterval(std::chrono::milliseconds(1));
    QObject::connect(device->retry, &QTimer::timeout, device->retry, [device] { Drain(device); });

    QObject::connect(qt, &QCanBusDevice::framesReceived, qt, [device] { Receive(device); });
    QObject::connect(qt, &QCanBusDevice::errorOccurred, qt,
                     [device](QCanBusDevice::CanBusError kind) {
                         if (!device->qt)
                             return;
                         const std::string message = device->qt->errorString().toStdString();
                         switch (kind) {
                         case QCanBusDevice::WriteError:
                             return; // the drain decides what a refused frame means
                         case QCanBusDevice::ConnectionError:
                             device->Lost(message);
                             return;
                         case QCanBusDevice::ConfigurationError:
                             if (device->state.load() == PortState::Closed)
                                 device->configurationError = message;
                             break;
                         default:
                             break;
                         }
                         device->ReportError(message);
                         if (device->qt->hasBusStatus() &&
                             device->qt->busStatus() == QCanBusDevice::CanBusStatus::BusOff)
                             device->state.store(PortState::BusOff);
                     });
    QObject::connect(
        qt, &QCanBusDevice::stateChanged, qt, [device](QCanBusDevice::CanBusDeviceState state) {
            if (state == QCanBusDevice::ConnectedState) {
                if (!device->configurationError.empty()) {
                    device->Settle(false, "the device refuses its configuration: " +
                                              device->configurationError);
                    return;
                }
                PortState now = device->RunningState();
                if (device->qt->hasBusStatus()) {
                    const auto status = device->qt->busStatus();
                    if (status == QCanBusDevice::CanBusStatus::BusOff)
                        now = PortState::BusOff;
                    else if (status == QCanBusDevice::CanBusStatus::Error && !device->listenOnly)
                        now = PortState::ErrorPassive;
                }
                device->state.store(now);
                device->TuneSocket();
                device->Settle(true, {});
            } else if (state == QCanBusDevice::UnconnectedState) {
                std::string message = device->qt->errorString().toStdString();
                if (message.empty())
                    message = "the CAN device " + device->name + " disconnected";
                device->Lost(message);
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
    device->CloseTransmit("the CAN port " + device->name + " is closed");
    delete std::exchange(device->retry, nullptr);
    device->socket = nullptr;
    QCanBusDevice* qt = std::exchange(device->qt, nullptr);
    if (!qt)
        return;
    QObject::disconnect(qt, nullptr, nullptr, nullptr);
    if (qt->state() != QCanBusDevice::UnconnectedState)
        qt->disconnectDevice();
    qt->deleteLater(); // perhaps called from inside one of its own signals
}

void QtCanPort::Device::Drain(const std::shared_ptr<Device>& device) {
    using std::chrono::steady_clock;
    for (;;) {
        CanFrame frame;
        std::uint64_t number = 0;
        steady_clock::time_point deadline;
        std::chrono::milliseconds patience{0};
        {
            std::lock_guard lock(device->txMutex);
            if (device->tx.empty()) {
                device->drainPending = false;
                return;
            }
            const Outgoing* out = device->tx.front();
            frame = out->frame;
            number = out->number;
            deadline = out->deadline;
            patience = out->patience;
        }
        QCanBusDevice* qt = device->qt;
        if (!qt) {
            device->CloseTransmit("the CAN port " + device->name + " is closed");
            return;
        }
        if (qt->writeFrame(toQt(frame))) {
            if (device->trace)
                device->trace->Record(device->name, frame);
            device->Finish(number, true, {});
            continue;
        }
        // The device may have gone while it refused the frame.
        if (!device->qt)
            return;
        const QString reason = qt->errorString();
        const std::string why = reason.isEmpty() ? "no reason given" : reason.toStdString();
        if (qt->state() != QCanBusDevice::ConnectedState ||
            qt->error() == QCanBusDevice::ConnectionError || saysDeviceGone(reason)) {
            device->Lost("the CAN device " + device->name + " is gone: " + why);
            return;
        }
        if (steady_clock::now() >= deadline) {
            device->Finish(number, false,
                           "the CAN device " + device->name + " refused frame " + ToCandump(frame) +
                               " for " + std::to_string(patience.count()) + " ms: " + why);
            continue;
        }
        // The device's transmit queue is full: offer the frame again when some has gone.
        device->retry->start();
        return;
    }
}

void QtCanPort::Device::Receive(const std::shared_ptr<Device>& device) {
    device->AcknowledgeAtOnce();
    std::deque<CanFrame> frames;
    while (device->qt && device->qt->framesAvailable()) {
        const QCanBusFrame qt = device->qt->readFrame();
        if (qt.frameType() == QCanBusFrame::ErrorFrame) {
            ErrorFrame(device, qt);
            continue;
        }
        const std::optional<CanFrame> frame = fromQt(qt);
        if (!frame)
            continue;
        if (device->trace)
            device->trace->Record(device->name, *frame, stampOf(qt));
        frames.push_back(*frame);
    }
    if (frames.empty())
        return;
    {
        std::lock_guard lock(device->rxMutex);
        if (device->rx.empty())
            device->rx.swap(frames);
        else
            device->rx.insert(device->rx.end(), frames.begin(), frames.end());
    }
    device->rxChanged.notify_one();
}

void QtCanPort::Device::ErrorFrame(const std::shared_ptr<Device>& device,
                                   const QCanBusFrame& frame) {
    const QCanBusFrame::FrameErrors errors = frame.error();
    const QByteArray payload = frame.payload();
    if (device->trace)
        device->trace->RecordError(device->name, static_cast<std::uint32_t>(errors.toInt()),
                                   std::string_view(payload.constData(), payload.size()),
                                   stampOf(frame));
    if (errors & QCanBusFrame::BusOffError) {
        device->state.store(PortState::BusOff);
        device->ReportError("the CAN controller is bus-off");
    } else if (errors & QCanBusFrame::ControllerRestartError) {
        device->state.store(device->RunningState());
    } else if (errors & QCanBusFrame::ControllerError) {
        // Byte 1 of a controller error: 0x10 / 0x20 receive / transmit error passive,
        // 0x40 error active again.
        const auto detail = payload.size() > 1 ? static_cast<std::uint8_t>(payload[1]) : 0;
        if ((detail & 0x30) && !device->listenOnly && device->state.load() != PortState::BusOff)
            device->state.store(PortState::ErrorPassive);
        else if (detail & 0x40)
            device->state.store(device->RunningState());
    }
}

QtCanPort::QtCanPort(std::string plugin, std::string interfaceName, QtCanPortOptions options)
    : plugin_(std::move(plugin)), interface_(std::move(interfaceName)), options_(options),
      patienceMs_(std::max<std::int64_t>(1, options.sendPatience.count())) {}

QtCanPort::~QtCanPort() {
    Close();
}

bool QtCanPort::Open() {
    std::lock_guard openLock(openMutex_);
    std::shared_ptr<Device> lost;
    {
        std::lock_guard lock(mutex_);
        if (device_ && device_->state.load() != PortState::Closed)
            return true;
        lost = std::move(device_); // a device that has gone: a fresh one takes its place
    }
    if (lost)
        closeDevice(lost);
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
    const std::string plugin = plugin_;
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
    device->delivery = std::thread([device, this] { device->Deliver(this); });
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
    // The frames that wait fail first, so that a handler that sends cannot keep the delivery
    // thread from ending.
    device->CloseTransmit("the CAN port " + interface_ + " is closed");
    IoThread& io = IoThread::Instance();
    if (io.OnThread()) {
        Device::Close(device);
    } else {
        std::mutex doneMutex;
        std::condition_variable doneChanged;
        bool done = false;
        if (io.Post([&, device] {
                Device::Close(device);
                // Told under the lock: once it is let go, the waiter may return and end both.
                std::lock_guard lock(doneMutex);
                done = true;
                doneChanged.notify_all();
            })) {
            std::unique_lock lock(doneMutex);
            doneChanged.wait(lock, [&] { return done; });
        } else {
            device->state.store(PortState::Closed); // the thread has closed it already
        }
    }
    {
        std::lock_guard lock(device->rxMutex);
        device->rxStop.store(true);
    }
    device->rxChanged.notify_all();
    if (device->delivery.joinable()) {
        if (device->delivery.get_id() == std::this_thread::get_id())
            device->delivery.detach(); // closed by its own handler, which returns to end it
        else
            device->delivery.join();
    }
}

PortState QtCanPort::State() const {
    std::lock_guard lock(mutex_);
    return device_ ? device_->state.load() : PortState::Closed;
}

void QtCanPort::SetSendPatience(std::chrono::milliseconds patience) {
    patienceMs_.store(std::max<std::int64_t>(1, patience.count()));
}

std::chrono::milliseconds QtCanPort::SendPatience() const {
    return std::chrono::milliseconds(patienceMs_.load());
}

bool QtCanPort::SendFrame(const CanFrame& frame) {
    std::shared_ptr<Device> device;
    {
        std::lock_guard lock(mutex_);
        device = device_;
    }
    const PortState state = device ? device->state.load() : PortState::Closed;
    switch (state) {
    case PortState::Closed: {
        std::string reason;
        if (device) {
            std::lock_guard lock(device->txMutex);
            reason = device->txClosedReason;
        }
        SetError(reason.empty() ? "the CAN port " + interface_ + " is not open" : reason);
        return false;
    }
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
    IoThread& io = IoThread::Instance();
    if (io.OnThread()) {
        // The drain runs on this thread: nothing could answer while it waits.
        SetError("a Qt CAN port does not send on the CAN I/O thread");
        return false;
    }

    Outgoing out;
    out.frame = frame;
    out.patience = SendPatience();
    out.deadline = std::chrono::steady_clock::now() + out.patience;
    bool post = false;
    {
        std::lock_guard lock(device->txMutex);
        if (device->txClosed) {
            SetError(device->txClosedReason);
            return false;
        }
        out.number = device->txNumber++;
        device->tx.push_back(&out);
        post = !std::exchange(device->drainPending, true);
    }
    if (post && !io.Post([device] { Device::Drain(device); }))
        device->CloseTransmit("the CAN I/O thread has ended");

    // Sleeps until the I/O thread has handed the frame to the device (or given up on it): a
    // real adapter's frame takes a wire time or more, so looking again and again buys nothing.
    const auto answered = [&] {
        return out.result.load() != Outgoing::Result::Waiting;
    };
    {
        std::unique_lock lock(device->txMutex);
        device->txChanged.wait(lock, answered);
    }
    if (out.result.load() == Outgoing::Result::Sent)
        return true;
    std::lock_guard lock(device->txMutex); // the reason was written under it
    SetError(out.error);
    return false;
}

std::vector<std::string> QtCanPort::AvailablePlugins() {
    std::vector<std::string> names;
    for (const QString& name : QCanBus::instance()->plugins())
        names.push_back(name.toStdString());
    {
        ProvidedPlugins& provided = providedPlugins();
        std::lock_guard lock(provided.mutex);
        for (const auto& [name, maker] : provided.makers)
            if (std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(name);
    }
    return names;
}

void QtCanPort::ProvidePlugin(const std::string& plugin, QtCanDeviceMaker maker) {
    ProvidedPlugins& provided = providedPlugins();
    std::lock_guard lock(provided.mutex);
    if (maker)
        provided.makers[plugin] = std::move(maker);
    else
        provided.makers.erase(plugin);
}

} // namespace bus
