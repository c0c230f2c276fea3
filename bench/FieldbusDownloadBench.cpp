// Pushes a 192 KiB image through a field-bus downloader as the download worker does:
// DownloadFirmware → the driver library → the simulated bus → a simulated node, in 32-byte
// blocks (CANopen: one 38-byte segmented SDO download each; DeviceNet: one fragmented
// Set_Attribute_Single of the 38-byte command each).
//   BM_Unpaced/<bus>:        the bus without wire timing; frames/s and image bytes/s (the
//                            frames of a block counted from the CAN trace of a short run).
//   BM_WireModel500k/<bus>:  the wire model at 500 kbit/s; the time against the wire time of
//                            the frames that crossed the bus (summed from the run's trace).
// Both report the processor time the whole process spent per image (every thread: the
// downloader's, the driver's, the bus's and the nodes'), cpu_s_per_image, and that time as a
// share of the time the image took, cpu_share (1 = one core busy throughout).
// <bus> is bus:0 for CANopen, bus:1 for DeviceNet. Both networks run at 500 kbit/s.
// Targets: at least 100,000 frames/s unpaced; within 20 % of the wire time at 500 kbit/s.

#include "CanFrame.h"
#include "Class_copn.h"
#include "Class_fw_dnld_dnet.h"
#include "DynamicLibrary.h"
#include "FirmwareImage.h"
#include "MessageBox.h"
#include "Sleep.h"
#include "WireTiming.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>

namespace {

constexpr std::uint32_t ImageSize = 192 * 1024;
constexpr std::uint8_t Sector = 2;
constexpr std::uint8_t Node = 3;
const char* const KeyPath = "\\Software\\Quorvane, LLC.\\Zandrel\\";

enum Bus { Canopen, Devicenet };

// A program's downloader on the embedded simulated network, node 3 in download mode.
class Session {
public:
    Session(Bus kind, bool wireModel, const std::string& trace = "") {
        setenv("XDG_DATA_HOME", folder_.path().toLocal8Bit().constData(), 1);
        setenv("XDG_CONFIG_HOME", (folder_.path() + "/config").toLocal8Bit().constData(), 1);
        setenv(DriverPathVariable, DRIVER_DIR, 1);
        if (wireModel)
            unsetenv("ZANDREL_SIM_WIRE");
        else
            setenv("ZANDREL_SIM_WIRE", "off", 1);
        if (trace.empty())
            unsetenv("ZANDREL_CAN_TRACE");
        else
            setenv("ZANDREL_CAN_TRACE", trace.c_str(), 1);
        const QString network = folder_.path() + (kind == Canopen ? "/zandrel/canopen-network"
                                                                  : "/zandrel/devicenet-network");
        QDir().mkpath(network);
        std::ofstream((network + "/network.ini").toStdString())
            << (kind == Canopen ? "[node 3]\nrestart_ms=0\n"
                                : "[node 3]\nrestart_ms=0\nduplicate_mac_check=no\n");
        SetMessageBoxHandler([](const MessageBoxRequest&) { return IDYES; });
        SetSleepHandler([](DWORD) {});
        saveInterface(kind == Canopen ? "QVX_COPN.dll" : "QVX_DNET.dll", kind == Canopen ? 127 : 0);
        if (kind == Canopen)
            downloader_ = std::make_unique<TCOPN_Downloader>();
        else
            downloader_ = std::make_unique<TDNet_Downloader>();
        if (!downloader_->ReadConfiguration(KeyPath) || !downloader_->GoOnline())
            throw std::runtime_error("the simulated network does not go online");
        downloader_->Node = Node;
        if (!downloader_->EnterDownloadMode(0x1A2B) || !downloader_->EraseSector(Sector))
            throw std::runtime_error("node 3 refuses download mode or the erase");
        image_ = sim::MakeFirmwareImage({"Bench", "192 KiB", "Dec 10 2026", "12:00:00", 0x10000},
                                        ImageSize);
    }
    ~Session() { downloader_.reset(); }

    bool Block(std::uint32_t at, const std::uint8_t* data) {
        return downloader_->DownloadFirmware(Sector, at, 32, data) != 0;
    }
    // One pass over the image; the same bytes again only clear bits already clear.
    bool Download() {
        for (std::uint32_t at = 0; at < ImageSize; at += 32)
            if (!downloader_->DownloadFirmware(Sector, at, 32, image_.data() + at))
                return false;
        return true;
    }

private:
    // The simulated network at 500 kbit/s, stored where the downloader reads it.
    static void saveInterface(const char* driver, std::uint32_t ownAddress) {
        HMODULE library = LoadLibraryA(driver);
        using SaveFn = std::int32_t (*)(const char*, void*, void*);
        auto save = library ? reinterpret_cast<SaveFn>(GetProcAddress(library, "SaveConfiguration"))
                            : nullptr;
        std::uint8_t record[300] = {}; // the simulated network
        std::uint32_t settings[13] = {ownAddress, 500000};
        if (!save || !save(KeyPath, record, settings))
            throw std::runtime_error(std::string(driver) + ": the settings are not stored");
        FreeLibrary(library);
    }

    QTemporaryDir folder_;
    std::unique_ptr<TFirmware_Downloader> downloader_;
    std::vector<std::uint8_t> image_;
};

// Processor time of the whole process so far, user and system, in seconds.
double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void reportCpu(benchmark::State& state, double cpuSeconds, double elapsedSeconds) {
    const auto images = static_cast<double>(state.iterations());
    state.counters["cpu_s_per_image"] = cpuSeconds / images;
    state.counters["cpu_share"] = cpuSeconds / elapsedSeconds;
}

long lines(const std::string& path) {
    std::ifstream in(path);
    return static_cast<long>(std::count(std::istreambuf_iterator<char>(in), {}, '\n'));
}

// The frames a block takes, from the trace of a short download.
double framesPerBlock(Bus kind) {
    QTemporaryDir folder;
    const std::string trace = (folder.path() + "/blocks.log").toStdString();
    Session session(kind, false, trace);
    const long before = lines(trace);
    constexpr int Blocks = 64;
    std::vector<std::uint8_t> block(32, 0x00);
    for (int i = 0; i < Blocks; ++i)
        session.Block(static_cast<std::uint32_t>(i * 32), block.data());
    return static_cast<double>(lines(trace) - before) / Blocks;
}

void BM_Unpaced(benchmark::State& state) {
    const Bus kind = static_cast<Bus>(state.range(0));
    const double FramesPerBlock = framesPerBlock(kind);
    Session session(kind, false);
    const double cpuBefore = processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        if (!session.Download())
            state.SkipWithError("a block was refused");
    reportCpu(state, processCpuSeconds() - cpuBefore,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    const double blocks = static_cast<double>(state.iterations()) * ImageSize / 32;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * ImageSize);
    state.counters["frames_per_block"] = FramesPerBlock;
    state.counters["frames_per_s"] =
        benchmark::Counter(blocks * FramesPerBlock, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Unpaced)
    ->ArgName("bus")
    ->Arg(Canopen)
    ->Arg(Devicenet)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);

void BM_WireModel500k(benchmark::State& state) {
    QTemporaryDir traceFolder;
    const std::string trace = (traceFolder.path() + "/download.log").toStdString();
    Session session(static_cast<Bus>(state.range(0)), true, trace);
    const long tracedBefore = lines(trace);
    double elapsed = 0;
    const double cpuBefore = processCpuSeconds();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!session.Download())
            state.SkipWithError("a block was refused");
        elapsed += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    reportCpu(state, processCpuSeconds() - cpuBefore, elapsed);
    // The wire time of every frame the download put on the bus.
    std::ifstream in(trace);
    std::string line;
    double wire = 0;
    long frames = 0;
    for (long n = 0; std::getline(in, line); ++n) {
        if (n < tracedBefore)
            continue;
        const auto frame = bus::ParseCandump(line.substr(line.rfind(' ') + 1));
        if (!frame)
            continue;
        wire += std::chrono::duration<double>(bus::FrameTime(*frame, 500000)).count();
        ++frames;
    }
    state.counters["frames"] = static_cast<double>(frames);
    state.counters["frames_per_block"] =
        frames / (static_cast<double>(ImageSize) / 32) / static_cast<double>(state.iterations());
    state.counters["wire_s"] = wire;
    state.counters["time_over_wire"] = elapsed / wire;
}
BENCHMARK(BM_WireModel500k)
    ->ArgName("bus")
    ->Arg(Canopen)
    ->Arg(Devicenet)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
