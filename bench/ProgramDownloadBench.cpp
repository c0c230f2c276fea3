// The two ways an image reaches a CANopen node, on the embedded simulated network with the
// wire model on, each through the program's own code, the driver library, the bus and a
// simulated node 3:
//   BM_ProgramDownload:        standard program download into a node of the 302-3 profile, a
//                              256 KiB program at 500 kbit/s and a 16 KiB one at 20 kbit/s
//                              (where a sub-block takes longer on the wire than the answer
//                              time-out): TProgramDownload::Download as a whole (stop,
//                              clear, the write of 0x1F50:1, the node's flash time at its
//                              default rate, the flash status, the identification, start),
//                              and the write alone (the SDO_Block_Transfer call).
//   BM_FirmwareObjectDownload: at 500 kbit/s, a 192 KiB image into sector 2 of a node of the
//                              firmware profile
//                              in 32-byte blocks (DownloadFirmware: one 38-byte segmented SDO
//                              download each), as the download worker sends it; its sector
//                              holds 196,606 bytes at most.
// Counters, each per image (averaged over the iterations):
//   image_bytes_per_frame  image bytes over the frames on the wire during the transfer, both
//                          ways, counted from the CAN trace (a 127-segment block transfer
//                          carries at most 6.95; the target is 6.5 or more)
//   wire_s                 the wire time of those frames at the bit rate
//   transfer_s             the time the transfer took
//   transfer_vs_wire       transfer_s / wire_s
//   wire_us_per_byte, transfer_us_per_byte: the same per image byte, to compare the two ways
// BM_ProgramDownload also reports whole_s, the whole download, and whole_vs_wire (target:
// within 1.2), and went_block (1 when the write went as a block transfer).

#include "CanFrame.h"
#include "Class_copn.h"
#include "DynamicLibrary.h"
#include "FirmwareImage.h"
#include "MessageBox.h"
#include "ProgramDownload.h"
#include "ProgramImage.h"
#include "Sleep.h"
#include "WireTiming.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

constexpr std::uint32_t FirmwareSize = 192 * 1024;
constexpr std::uint32_t FirmwareBitRate = 500000;
constexpr std::uint8_t Node = 3;
constexpr std::uint8_t Program = 1;
constexpr std::uint8_t Sector = 2;
const char* const KeyPath = "\\Software\\Quorvane, LLC.\\Zandrel\\";

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A CANopen downloader online on the embedded simulated network at the bit rate with the wire
// model on, every frame traced; node 3 is described by nodeKeys and shows as online.
class Session {
public:
    Session(const std::string& nodeKeys, std::uint32_t bitRate) : bitRate_(bitRate) {
        setenv("XDG_DATA_HOME", folder_.path().toLocal8Bit().constData(), 1);
        setenv("XDG_CONFIG_HOME", (folder_.path() + "/config").toLocal8Bit().constData(), 1);
        setenv(DriverPathVariable, DRIVER_DIR, 1);
        unsetenv("ZANDREL_SIM_WIRE");
        trace_ = (folder_.path() + "/trace.log").toStdString();
        setenv("ZANDREL_CAN_TRACE", trace_.c_str(), 1);
        const QString network = folder_.path() + "/zandrel/canopen-network";
        QDir().mkpath(network);
        std::ofstream((network + "/network.ini").toStdString()) << "[node 3]\n" << nodeKeys;
        SetMessageBoxHandler([](const MessageBoxRequest&) { return IDYES; });
        // The program's pauses as they are (entering download mode waits for the node's
        // restart), but a short look again while a node is flashing, so that the poll's period
        // does not count in the download's time.
        SetSleepHandler([](DWORD ms) {
            std::this_thread::sleep_for(std::chrono::milliseconds(
                ms == TProgramDownload::FlashPollPause ? 2 : static_cast<long>(ms)));
        });
        saveInterface(bitRate);
        downloader_ = std::make_unique<TCOPN_Downloader>();
        if (!downloader_->ReadConfiguration(KeyPath) || !downloader_->GoOnline())
            throw std::runtime_error("the simulated network does not go online");
        downloader_->Node = Node;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        std::uint32_t changed = 0;
        while (downloader_->UpdateNodesOnline(&changed), !downloader_->Online[Node]) {
            if (Clock::now() > deadline)
                throw std::runtime_error("node 3 does not show as online");
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~Session() { downloader_.reset(); }

    TCOPN_Downloader& Downloader() { return *downloader_; }
    // Where the trace ends now: every frame is written whole and flushed before the receivers
    // get it, so a transfer's frames lie between its two ends.
    std::uintmax_t TraceEnd() const { return std::filesystem::file_size(trace_); }

    struct Frames {
        long count = 0;
        double wireSeconds = 0;
    };
    // The frames traced between two ends, and their wire time.
    Frames TracedBetween(std::uintmax_t from, std::uintmax_t to) const {
        Frames frames;
        std::ifstream in(trace_);
        in.seekg(static_cast<std::streamoff>(from));
        std::string line;
        while (static_cast<std::uintmax_t>(in.tellg()) < to && std::getline(in, line)) {
            const auto frame = bus::ParseCandump(line.substr(line.rfind(' ') + 1));
            if (!frame)
                continue;
            frames.wireSeconds +=
                std::chrono::duration<double>(bus::FrameTime(*frame, bitRate_)).count();
            ++frames.count;
        }
        return frames;
    }

private:
    // The simulated network at the bit rate, stored where the downloader reads it.
    static void saveInterface(std::uint32_t bitRate) {
        HMODULE library = LoadLibraryA("QVX_COPN.dll");
        using SaveFn = std::int32_t (*)(const char*, void*, void*);
        auto save = library ? reinterpret_cast<SaveFn>(GetProcAddress(library, "SaveConfiguration"))
                            : nullptr;
        std::uint8_t record[300] = {}; // the simulated network
        std::uint32_t settings[13] = {127, bitRate};
        if (!save || !save(KeyPath, record, settings))
            throw std::runtime_error("QVX_COPN.dll: the settings are not stored");
        FreeLibrary(library);
    }

    QTemporaryDir folder_;
    const std::uint32_t bitRate_;
    std::string trace_;
    std::unique_ptr<TCOPN_Downloader> downloader_;
};

// What one image's transfers added up to.
struct Totals {
    double images = 0;
    double bytes = 0;
    double frames = 0;
    double wireSeconds = 0;
    double transferSeconds = 0;
};

void report(benchmark::State& state, const Totals& t) {
    state.SetBytesProcessed(static_cast<std::int64_t>(t.bytes));
    state.counters["image_bytes_per_frame"] = t.bytes / t.frames;
    state.counters["wire_s"] = t.wireSeconds / t.images;
    state.counters["transfer_s"] = t.transferSeconds / t.images;
    state.counters["transfer_vs_wire"] = t.transferSeconds / t.wireSeconds;
    state.counters["wire_us_per_byte"] = t.wireSeconds * 1e6 / t.bytes;
    state.counters["transfer_us_per_byte"] = t.transferSeconds * 1e6 / t.bytes;
}

// The write of the program through the binding, timed, with the ends of the trace around it.
struct TimedWrite {
    PFN_COPN_SDO_Block_Transfer export_ = nullptr;
    const Session* session = nullptr;
    std::uintmax_t traceFrom = 0, traceTo = 0;
    double seconds = 0;
};
TimedWrite timedWrite;

std::int32_t timedBlockTransfer(std::uint32_t handle, std::uint8_t node, std::uint16_t index,
                                std::uint8_t subIndex, std::uint32_t flags, std::uint32_t* length,
                                std::uint8_t* data, QVX_COPN_TransferProgress progress,
                                void* context, std::uint32_t* went) {
    timedWrite.traceFrom = timedWrite.session->TraceEnd();
    const auto start = Clock::now();
    const std::int32_t result = timedWrite.export_(handle, node, index, subIndex, flags, length,
                                                   data, progress, context, went);
    timedWrite.seconds = secondsSince(start);
    timedWrite.traceTo = timedWrite.session->TraceEnd();
    return result;
}

// Arguments: the bit rate, the program's size.
void BM_ProgramDownload(benchmark::State& state) {
    const auto bitRate = static_cast<std::uint32_t>(state.range(0));
    const auto programSize = static_cast<std::uint32_t>(state.range(1));
    Session session("profile=302-3\nprogram_size=" + std::to_string(programSize) + "\n", bitRate);
    TQVX_COPN_Interface& binding = *session.Downloader().copnInterface;
    TProgramDownload download(binding, Node);
    if (!download.IsStandardNode()) {
        state.SkipWithError("node 3 is not a program-download node");
        return;
    }
    ProgramImage image;
    image.bytes = sim::MakeFirmwareImage(
        {"Bench", "program", "Dec 10 2026", "12:00:00", 0x10000}, programSize);
    image.crc = ProgramCrc32(image.bytes.data(), image.bytes.size());

    timedWrite = {binding.ProgramDriver.SDO_Block_Transfer, &session};
    binding.ProgramDriver.SDO_Block_Transfer = timedBlockTransfer;
    Totals totals;
    double whole = 0;
    bool block = true;
    for (auto _ : state) {
        const auto start = Clock::now();
        const TProgramDownload::Outcome outcome = download.Download(Program, image, {});
        const double seconds = secondsSince(start);
        state.SetIterationTime(seconds);
        if (outcome.result != TProgramDownload::Result::Done) {
            state.SkipWithError(outcome.message.c_str());
            break;
        }
        block = block && outcome.wentAsBlock;
        const Session::Frames frames =
            session.TracedBetween(timedWrite.traceFrom, timedWrite.traceTo);
        totals.images += 1;
        totals.bytes += outcome.bytes;
        totals.frames += static_cast<double>(frames.count);
        totals.wireSeconds += frames.wireSeconds;
        totals.transferSeconds += timedWrite.seconds;
        whole += seconds;
    }
    binding.ProgramDriver.SDO_Block_Transfer = timedWrite.export_;
    if (totals.images == 0)
        return;
    report(state, totals);
    state.counters["whole_s"] = whole / totals.images;
    state.counters["whole_vs_wire"] = whole / totals.wireSeconds;
    state.counters["went_block"] = block ? 1 : 0;
}
BENCHMARK(BM_ProgramDownload)
    ->ArgNames({"bit_rate", "bytes"})
    ->Args({500000, 256 * 1024})
    ->Args({20000, 16 * 1024})
    ->Unit(benchmark::kSecond)
    ->UseManualTime();

void BM_FirmwareObjectDownload(benchmark::State& state) {
    Session session("", FirmwareBitRate);
    TCOPN_Downloader& downloader = session.Downloader();
    if (!downloader.EnterDownloadMode(0x1A2B) || !downloader.EraseSector(Sector)) {
        state.SkipWithError("node 3 refuses download mode or the erase");
        return;
    }
    const std::vector<std::uint8_t> image = sim::MakeFirmwareImage(
        {"Bench", "192 KiB", "Dec 10 2026", "12:00:00", 0x10000}, FirmwareSize);
    Totals totals;
    for (auto _ : state) {
        const std::uintmax_t from = session.TraceEnd();
        const auto start = Clock::now();
        // The same bytes again only clear bits already clear.
        for (std::uint32_t at = 0; at < FirmwareSize; at += 32)
            if (!downloader.DownloadFirmware(Sector, at, 32, image.data() + at)) {
                state.SkipWithError("a block was refused");
                return;
            }
        const double seconds = secondsSince(start);
        state.SetIterationTime(seconds);
        const Session::Frames frames = session.TracedBetween(from, session.TraceEnd());
        totals.images += 1;
        totals.bytes += FirmwareSize;
        totals.frames += static_cast<double>(frames.count);
        totals.wireSeconds += frames.wireSeconds;
        totals.transferSeconds += seconds;
    }
    report(state, totals);
}
BENCHMARK(BM_FirmwareObjectDownload)->Unit(benchmark::kSecond)->UseManualTime();

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
