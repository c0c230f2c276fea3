// What watching a full network costs: 126 nodes on the embedded simulated CANopen network, each
// guarded as the program guards it, at 10, 125 and 500 kbit/s with the wire model on (each
// frame takes its bits' time at the bit rate), for a fixed time of real time per bit rate.
//
// The driver library is loaded and called as the program calls it: ReadConfiguration (the
// simulated network, nothing stored), OpenInterface, SetNodeID, SetBaud, AddNode for nodes 1 to
// 127, SetOnline, NMT_ResetCommunication of every node; then the nodes-online poll every
// 100 ms: GetNodeOnline for every node, and NMT_StartGuarding(node, 1, 1000 ms) for each node
// that has just come online. (The program also reads a newly online node's identity; that is
// left out here, so that every SDO frame during the run is the supervision's.) At the end each
// node is asked whether it is online and its device type (0x1000, asked twice when the first
// read fails, as the program does) and vendor-ID (0x1018:1) are read back; each node of the
// network file has its own.
//
// Every frame the bus carries is traced (ZANDREL_CAN_TRACE) and counted from the trace
// afterwards, its bits by bus::FrameBits (stuff bits computed), over the run from SetOnline on:
//   bus load       all frames' bits / (bit rate × run time)
//   supervision    the error-control frames (0x700+n: guard requests, guard replies,
//                  heartbeats, boot-ups) and every SDO frame of the run (the writes of
//                  NMT_StartGuarding, the supervisor's reads and writes of 0x1017 and 0x100C,
//                  its reads of 0x1000), as a share of the bus; also over the run's second half
//   writes         SDO download initiates (0x600+n, command 0x2x) to 0x1017, 0x100C and 0x100D,
//                  with the values written
//   life guarding  the nodes' emergency messages 0x8130 (a life time passed without a request)
// The nodes run in this process, on the same bus: the processor time is the master's, the
// nodes', the bus's and the trace's together, per second of real time; the main thread (the
// poll) is told apart, and the other threads one by one in the order they were started. The
// nodes' flash folders are made before the run (a node makes its own when first spoken to),
// so that their first start does not count. The driver library's words on standard error are
// kept and summed up.
//
// Usage: supervision_bench [seconds] [bit rate ...]
//        seconds per bit rate: 60, or ZANDREL_BENCH_SECONDS; bit rates: 10000 125000 500000

#include "CanFrame.h"
#include "CanTrace.h"
#include "DynamicLibrary.h"
#include "Qvx_copn_exports.h"
#include "WireTiming.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int Nodes = 126;
constexpr std::uint8_t OwnNodeId = 127;
constexpr std::uint8_t GuardLifeTimeFactor = 1;
constexpr std::uint16_t GuardTimeMs = 1000;
constexpr auto PollPeriod = std::chrono::milliseconds(100);
const char* const KeyPath = "\\Software\\Quorvane, LLC.\\Zandrel\\";

// Each node's identity, its own so that an answer from the wrong node shows.
std::uint32_t deviceTypeOf(int node) {
    return 0x00000191u | (static_cast<std::uint32_t>(node) << 16);
}
std::uint32_t vendorIdOf(int node) {
    return 0x00010000u + static_cast<std::uint32_t>(node);
}

std::string networkFile() {
    std::string text;
    for (int n = 1; n <= Nodes; ++n) {
        char section[160];
        std::snprintf(section, sizeof section,
                      "[node %d]\ndevice_type=0x%08X\nvendor_id=0x%08X\nproduct_code=%d\n", n,
                      static_cast<unsigned>(deviceTypeOf(n)), static_cast<unsigned>(vendorIdOf(n)),
                      4000 + n);
        text += section;
    }
    return text;
}

// The exports the program calls here, looked up as it looks them up.
struct Driver {
    HMODULE library = nullptr;
    PFN_COPN_ReadConfiguration ReadConfiguration = nullptr;
    PFN_COPN_OpenInterface OpenInterface = nullptr;
    PFN_COPN_SetNodeID SetNodeID = nullptr;
    PFN_COPN_SetBaud SetBaud = nullptr;
    PFN_COPN_AddNode AddNode = nullptr;
    PFN_COPN_SetOnline SetOnline = nullptr;
    PFN_COPN_NMT_ResetCommunication NMT_ResetCommunication = nullptr;
    PFN_COPN_GetNodeOnline GetNodeOnline = nullptr;
    PFN_COPN_NMT_StartGuarding NMT_StartGuarding = nullptr;
    PFN_COPN_SDO_Upload_UNSIGNED32 SDO_Upload_UNSIGNED32 = nullptr;
    PFN_COPN_CloseCard CloseCard = nullptr;

    template <typename Fn> void find(Fn& fn, const char* name) {
        fn = reinterpret_cast<Fn>(GetProcAddress(library, name));
        if (!fn)
            throw std::runtime_error(std::string("QVX_COPN.dll lacks ") + name);
    }

    Driver() {
        library = LoadLibraryA("QVX_COPN.dll");
        if (!library)
            throw std::runtime_error(std::string("QVX_COPN.dll does not load: ") +
                                     LastLibraryLoadError());
        find(ReadConfiguration, "ReadConfiguration");
        find(OpenInterface, "OpenInterface");
        find(SetNodeID, "SetNodeID");
        find(SetBaud, "SetBaud");
        find(AddNode, "AddNode");
        find(SetOnline, "SetOnline");
        find(NMT_ResetCommunication, "NMT_ResetCommunication");
        find(GetNodeOnline, "GetNodeOnline");
        find(NMT_StartGuarding, "NMT_StartGuarding");
        find(SDO_Upload_UNSIGNED32, "SDO_Upload_UNSIGNED32");
        find(CloseCard, "CloseCard");
    }
    ~Driver() { FreeLibrary(library); }
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;
};

// Processor time of the process and of each of its threads, in seconds.
struct CpuTimes {
    double process = 0;
    std::map<int, double> threads; // by thread ID
};

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// utime + stime of /proc/self/task/<id>/stat, fields 14 and 15 after the name in parentheses.
std::optional<double> threadCpu(const fs::path& stat) {
    std::ifstream in(stat);
    std::string text;
    std::getline(in, text);
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::vector<std::string> fields;
    std::size_t at = close + 2;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        fields.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    // fields[0] is field 3 (the state).
    if (fields.size() < 13)
        return std::nullopt;
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    return (std::stod(fields[11]) + std::stod(fields[12])) / ticks;
}

CpuTimes cpuNow() {
    CpuTimes times;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    times.process = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    std::error_code error;
    for (const fs::directory_entry& task : fs::directory_iterator("/proc/self/task", error)) {
        const std::string name = task.path().filename().string();
        if (const std::optional<double> cpu = threadCpu(task.path() / "stat"))
            times.threads[std::atoi(name.c_str())] = *cpu;
    }
    return times;
}

// What the trace shows of one run.
struct Traffic {
    double allBits = 0;
    long allFrames = 0;
    double errorControlBits = 0;
    long guardRequests = 0, errorControlReplies = 0, bootUps = 0;
    double sdoBits = 0;
    long sdoFrames = 0;
    double supervisionBitsSecondHalf = 0;
    long nmtFrames = 0;
    long lifeGuardEvents = 0;
    std::set<int> lifeGuardNodes;
    long otherFrames = 0;
    // SDO frames by the object of their transfer: "write 0x100C", "read 0x1000", ...
    struct Object {
        long initiates = 0;
        long frames = 0;
        long aborts = 0;
        std::set<int> nodes;
        // The values of its expedited writes.
        std::uint32_t lowest = UINT32_MAX, highest = 0;
    };
    std::map<std::string, Object> objects;
};

// Seconds since the epoch of a line "(1733800000.123456) sim0 ...".
double stampOf(const std::string& line) {
    return line.size() > 1 && line[0] == '(' ? std::atof(line.c_str() + 1) : 0.0;
}

Traffic countTrace(const fs::path& trace, std::uintmax_t from, std::uintmax_t to,
                   double halfStamp) {
    Traffic t;
    std::ifstream in(trace);
    in.seekg(static_cast<std::streamoff>(from));
    // The object of each node's SDO transfer, from its last initiate.
    std::array<std::string, 128> transfer;
    std::string line;
    while (static_cast<std::uintmax_t>(in.tellg()) < to && std::getline(in, line)) {
        const std::optional<bus::CanFrame> parsed =
            bus::ParseCandump(line.substr(line.rfind(' ') + 1));
        if (!parsed)
            continue;
        const bus::CanFrame& f = *parsed;
        const double bits = bus::FrameBits(f);
        const bool secondHalf = stampOf(line) >= halfStamp;
        t.allBits += bits;
        ++t.allFrames;
        const int node = f.id & 0x7F;
        const int function = f.id & 0x780;
        if (f.id == 0) {
            ++t.nmtFrames;
        } else if (function == 0x700 && node != 0) {
            t.errorControlBits += bits;
            if (secondHalf)
                t.supervisionBitsSecondHalf += bits;
            if (f.remote)
                ++t.guardRequests;
            else if (f.length == 1 && f.data[0] == 0)
                ++t.bootUps;
            else
                ++t.errorControlReplies;
        } else if ((function == 0x600 || function == 0x580) && node != 0 && !f.remote) {
            t.sdoBits += bits;
            ++t.sdoFrames;
            if (secondHalf)
                t.supervisionBitsSecondHalf += bits;
            const std::uint8_t command = f.length > 0 ? f.data[0] : 0;
            const bool request = function == 0x600;
            // Expedited and segmented transfers: a download initiate 0x2x, an upload initiate
            // 0x40, each naming its object; the segments and answers that follow are its.
            const bool write = (command & 0xE0) == 0x20;
            const bool initiate = request && f.length >= 3 && (write || command == 0x40);
            if (initiate) {
                char name[32];
                std::snprintf(name, sizeof name, "%s 0x%04X", write ? "write" : "read",
                              static_cast<unsigned>(f.data[1] | f.data[2] << 8));
                transfer[node] = name;
            }
            Traffic::Object& object = t.objects[transfer[node].empty() ? "?" : transfer[node]];
            ++object.frames;
            object.nodes.insert(node);
            if (initiate)
                ++object.initiates;
            if (initiate && write && (command & 0x02) && f.length == 8) {
                // Expedited: 4 bytes, or 4 - n when the size is indicated.
                const int size = command & 0x01 ? 4 - ((command >> 2) & 0x03) : 4;
                std::uint32_t value = 0;
                for (int i = size - 1; i >= 0; --i)
                    value = value << 8 | f.data[4 + i];
                object.lowest = std::min(object.lowest, value);
                object.highest = std::max(object.highest, value);
            }
            if (command == 0x80)
                ++object.aborts;
        } else if (function == 0x080 && node != 0) {
            if (f.length >= 2 && f.data[0] == 0x30 && f.data[1] == 0x81) {
                ++t.lifeGuardEvents;
                t.lifeGuardNodes.insert(node);
            } else {
                ++t.otherFrames;
            }
        } else {
            ++t.otherFrames;
        }
    }
    return t;
}

struct NodesAtEnd {
    int online = 0;        // of the network's nodes, per GetNodeOnline
    int identityRight = 0; // device type and vendor-ID read back as the file has them
    int listed = 0;        // both
    std::vector<int> onlineWithoutIdentity, identityButOffline, strangers;
};

struct Run {
    std::uint32_t bitRate = 0;
    double seconds = 0;
    Traffic traffic;
    long cameOnline = 0, wentOffline = 0, guardingStarted = 0, guardingRefused = 0;
    int onlineAtHalf = 0;
    NodesAtEnd end;
    double cpuProcess = 0;
    double cpuProcessSecondHalf = 0;
    double cpuMain = 0;
    // The threads OpenInterface started, in the order it started them: the simulated bus's
    // delivery thread first (it runs every port's frame handling, the master's and the nodes',
    // and writes the trace), the master's threads, the nodes' timer thread last.
    std::vector<double> cpuNetwork;
    double cpuElsewhere = 0; // threads that were there before (Qt's, say)
    double secondHalfSeconds = 0;
    // What the driver library wrote on standard error during the run.
    std::vector<std::string> driverSaid;
};

std::string list(const std::vector<int>& nodes) {
    std::string text;
    for (std::size_t i = 0; i < nodes.size() && i < 12; ++i)
        text.append(i ? "," : "").append(std::to_string(nodes[i]));
    if (nodes.size() > 12)
        text += ",...";
    return text;
}

// While it lives, standard error goes to a file.
class StandardErrorToFile {
public:
    explicit StandardErrorToFile(const fs::path& file) : file_(file) {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        if (std::FILE* target = std::fopen(file.c_str(), "w")) {
            dup2(fileno(target), STDERR_FILENO);
            std::fclose(target);
        }
    }
    ~StandardErrorToFile() { Restore(); }
    StandardErrorToFile(const StandardErrorToFile&) = delete;
    StandardErrorToFile& operator=(const StandardErrorToFile&) = delete;

    // Standard error as it was, and the lines written meanwhile.
    std::vector<std::string> Restore() {
        std::vector<std::string> lines;
        if (saved_ < 0)
            return lines;
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
        std::ifstream in(file_);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

private:
    const fs::path file_;
    int saved_ = -1;
};

// The program's start up to going online: the stored interface (none: the simulated
// network), its own node-ID, the bit rate, every address.
std::uint32_t openNetwork(Driver& driver, std::uint32_t bitRate) {
    std::array<std::uint8_t, QVX_COPN_CONFIG_SIZE> record{};
    QVX_COPN_NetworkSettings settings{};
    if (!driver.ReadConfiguration(KeyPath, record.data(), &settings))
        throw std::runtime_error("ReadConfiguration fails");
    settings.NodeId = OwnNodeId;
    settings.BitRate = bitRate;
    std::uint32_t h = 0;
    if (!driver.OpenInterface(&h, record.data()))
        throw std::runtime_error("the simulated network does not open");
    if (!driver.SetNodeID(h, static_cast<std::uint8_t>(settings.NodeId)))
        throw std::runtime_error("SetNodeID fails");
    driver.SetBaud(h, settings.BitRate);
    for (int n = 1; n <= 127; ++n)
        driver.AddNode(h, static_cast<std::uint8_t>(n));
    return h;
}

// A node makes its flash folder when it is first spoken to, as it leaves the factory: done once
// before the run, without the wire and untraced, so that the run's processor time is the
// supervision's and not the nodes' first start.
void makeNodeFolders(Driver& driver) {
    setenv("ZANDREL_SIM_WIRE", "off", 1);
    unsetenv(bus::CanTrace::EnvironmentVariable);
    const std::uint32_t h = openNetwork(driver, 500000);
    if (!driver.SetOnline(h, 1))
        throw std::runtime_error("SetOnline fails");
    for (int n = 1; n <= Nodes; ++n) {
        std::uint32_t deviceType = 0;
        driver.SDO_Upload_UNSIGNED32(h, static_cast<std::uint8_t>(n), 0x1000, 0, &deviceType);
    }
    driver.SetOnline(h, 0);
    driver.CloseCard(h);
    unsetenv("ZANDREL_SIM_WIRE");
}

Run runAt(Driver& driver, std::uint32_t bitRate, double runSeconds) {
    Run run;
    run.bitRate = bitRate;
    char pattern[] = "/tmp/zandrel-supervision-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("no temporary folder");
    const fs::path folder = pattern;
    const fs::path trace = folder / "trace.log";
    setenv("XDG_DATA_HOME", folder.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    fs::create_directories(folder / "zandrel/canopen-network");
    std::ofstream(folder / "zandrel/canopen-network/network.ini") << networkFile();
    StandardErrorToFile driverWords(folder / "stderr.txt");
    makeNodeFolders(driver);

    // The program's start: the network opened, online, every node's communication reset.
    setenv(bus::CanTrace::EnvironmentVariable, trace.c_str(), 1);
    const CpuTimes cpuBeforeOpen = cpuNow();
    const std::uint32_t h = openNetwork(driver, bitRate);

    // The nodes' boot-ups at their power-on went out before the bit rate was set, without wire
    // time: the run begins once they have been handed on (the trace has stood still a while).
    const auto traceSize = [&] {
        return fs::exists(trace) ? fs::file_size(trace) : 0;
    };
    for (auto [size, quietSince] = std::pair(traceSize(), Clock::now());
         Clock::now() - quietSince < std::chrono::milliseconds(300);) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (const std::uintmax_t now = traceSize(); now != size)
            size = now, quietSince = Clock::now();
    }
    const CpuTimes cpuFrom = cpuNow();
    const std::uintmax_t traceFrom = traceSize();
    const auto start = Clock::now();
    const auto half = start + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(runSeconds / 2));
    const auto end = start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(runSeconds));
    const double halfStamp =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count() +
        runSeconds / 2;
    if (!driver.SetOnline(h, 1))
        throw std::runtime_error("SetOnline fails");
    driver.NMT_ResetCommunication(h, 0);

    // The nodes-online poll.
    std::array<std::uint32_t, 128> previous{};
    bool halfSeen = false;
    // The processor time at half time, taken on time however long a round of the poll takes.
    CpuTimes cpuAtHalf;
    std::thread halfTime([&] {
        std::this_thread::sleep_until(half);
        cpuAtHalf = cpuNow();
    });
    while (Clock::now() < end) {
        std::array<std::uint32_t, 128> online{};
        for (int n = 1; n <= 127; ++n)
            if (!driver.GetNodeOnline(h, static_cast<std::uint8_t>(n), &online[n]))
                online[n] = 0;
        for (int n = 1; n <= 127; ++n) {
            if ((online[n] != 0) == (previous[n] != 0))
                continue;
            if (online[n]) {
                ++run.cameOnline;
                ++run.guardingStarted;
                if (!driver.NMT_StartGuarding(h, static_cast<std::uint8_t>(n), GuardLifeTimeFactor,
                                              GuardTimeMs))
                    ++run.guardingRefused;
            } else {
                ++run.wentOffline;
            }
            previous[n] = online[n];
        }
        if (!halfSeen && Clock::now() >= half) {
            halfSeen = true;
            run.onlineAtHalf =
                static_cast<int>(std::count_if(previous.begin() + 1, previous.begin() + 1 + Nodes,
                                               [](std::uint32_t o) { return o != 0; }));
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(PollPeriod, end - Clock::now()));
    }
    const Clock::time_point stopped = Clock::now();
    halfTime.join();
    run.seconds = std::chrono::duration<double>(stopped - start).count();
    run.secondHalfSeconds = run.seconds - runSeconds / 2;
    const std::uintmax_t traceTo = fs::file_size(trace);
    const CpuTimes cpuTo = cpuNow();

    // The nodes as the program would list them now.
    for (int n = 1; n <= 127; ++n) {
        const auto node = static_cast<std::uint8_t>(n);
        std::uint32_t online = 0;
        if (!driver.GetNodeOnline(h, node, &online))
            online = 0;
        if (n > Nodes) { // the master's own address
            if (online)
                run.end.strangers.push_back(n);
            continue;
        }
        std::uint32_t deviceType = 0, vendorId = 0;
        const bool typeRead = driver.SDO_Upload_UNSIGNED32(h, node, 0x1000, 0, &deviceType) ||
                              driver.SDO_Upload_UNSIGNED32(h, node, 0x1000, 0, &deviceType);
        const bool vendorRead =
            typeRead && driver.SDO_Upload_UNSIGNED32(h, node, 0x1018, 1, &vendorId);
        const bool right = vendorRead && deviceType == deviceTypeOf(n) && vendorId == vendorIdOf(n);
        run.end.online += online ? 1 : 0;
        run.end.identityRight += right ? 1 : 0;
        run.end.listed += online && right ? 1 : 0;
        if (online && !right)
            run.end.onlineWithoutIdentity.push_back(n);
        if (!online && right)
            run.end.identityButOffline.push_back(n);
    }
    driver.SetOnline(h, 0);
    driver.CloseCard(h);
    run.driverSaid = driverWords.Restore();

    run.traffic = countTrace(trace, traceFrom, traceTo, halfStamp);
    run.cpuProcess = (cpuTo.process - cpuFrom.process) / run.seconds;
    run.cpuProcessSecondHalf = (cpuTo.process - cpuAtHalf.process) / run.secondHalfSeconds;
    const int mainThread = static_cast<int>(getpid());
    for (const auto& [id, cpu] : cpuTo.threads) {
        const auto before = cpuFrom.threads.find(id);
        const double spent =
            (cpu - (before == cpuFrom.threads.end() ? 0 : before->second)) / run.seconds;
        if (id == mainThread)
            run.cpuMain = spent;
        else if (cpuBeforeOpen.threads.count(id))
            run.cpuElsewhere += spent;
        else
            run.cpuNetwork.push_back(spent); // thread IDs are handed out in order
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return run;
}

double percent(double bits, const Run& run, double seconds) {
    return 100.0 * bits / (static_cast<double>(run.bitRate) * seconds);
}

void print(const Run& run) {
    const Traffic& t = run.traffic;
    std::printf("\n%u kbit/s, %.1f s:\n", run.bitRate / 1000, run.seconds);
    std::printf("  bus load        %6.2f %%  (%ld frames)\n", percent(t.allBits, run, run.seconds),
                t.allFrames);
    std::printf("  supervision     %6.2f %%  of the bus: 0x700+n %.2f %% (guard requests %ld, "
                "replies/heartbeats %ld, boot-ups %ld), SDO %.2f %% (%ld frames)\n",
                percent(t.errorControlBits + t.sdoBits, run, run.seconds),
                percent(t.errorControlBits, run, run.seconds), t.guardRequests,
                t.errorControlReplies, t.bootUps, percent(t.sdoBits, run, run.seconds),
                t.sdoFrames);
    std::printf("  second half     %6.2f %%  of the bus is supervision\n",
                percent(t.supervisionBitsSecondHalf, run, run.secondHalfSeconds));
    std::printf("  SDO by object  ");
    if (t.objects.empty())
        std::printf(" none");
    for (const auto& [name, object] : t.objects) {
        std::printf(" %s: %ld initiates to %zu nodes", name.c_str(), object.initiates,
                    object.nodes.size());
        if (object.lowest == object.highest)
            std::printf(" (value %u)", object.lowest);
        else if (object.lowest < object.highest)
            std::printf(" (values %u to %u)", object.lowest, object.highest);
        std::printf(", %ld frames, %ld aborts;", object.frames, object.aborts);
    }
    std::printf("\n  life guarding   %ld emergencies 0x8130 from %zu nodes; NMT frames %ld, other "
                "frames %ld\n",
                t.lifeGuardEvents, t.lifeGuardNodes.size(), t.nmtFrames, t.otherFrames);
    std::printf(
        "  poll            came online %ld times, went offline %ld times; NMT_StartGuarding "
        "%ld calls, %ld failed; online at half time %d\n",
        run.cameOnline, run.wentOffline, run.guardingStarted, run.guardingRefused,
        run.onlineAtHalf);
    std::printf("  at the end      online %d/%d, identity right %d/%d, listed (both) %d/%d",
                run.end.online, Nodes, run.end.identityRight, Nodes, run.end.listed, Nodes);
    if (!run.end.onlineWithoutIdentity.empty())
        std::printf("; online without identity: %s", list(run.end.onlineWithoutIdentity).c_str());
    if (!run.end.identityButOffline.empty())
        std::printf("; answer but offline: %s", list(run.end.identityButOffline).c_str());
    if (!run.end.strangers.empty())
        std::printf("; online outside the network: %s", list(run.end.strangers).c_str());
    std::printf("\n  CPU             %.4f s per s in all (the nodes, the bus and the trace "
                "included), %.4f in the second half; the poll (main thread) %.4f",
                run.cpuProcess, run.cpuProcessSecondHalf, run.cpuMain);
    const std::vector<double>& network = run.cpuNetwork;
    if (network.size() >= 2) {
        std::printf("; the bus's delivery (every frame handler, the trace) %.4f; the master's "
                    "threads",
                    network.front());
        for (std::size_t i = 1; i + 1 < network.size(); ++i)
            std::printf(" %.4f", network[i]);
        std::printf("; the nodes' timer %.4f", network.back());
    } else {
        for (const double cpu : network)
            std::printf(" %.4f", cpu);
    }
    std::printf("; other threads %.4f\n", run.cpuElsewhere);
    if (!run.driverSaid.empty()) {
        std::printf("  driver's words  %zu lines on standard error, the first: %s\n",
                    run.driverSaid.size(), run.driverSaid.front().c_str());
        if (run.driverSaid.size() > 1)
            std::printf("                  the last: %s\n", run.driverSaid.back().c_str());
    }
}

long writesTo(const Traffic& t, const char* object) {
    const auto it = t.objects.find(object);
    return it == t.objects.end() ? 0 : it->second.initiates;
}

} // namespace

int main(int argc, char** argv) {
    double runSeconds = 60;
    if (const char* value = std::getenv("ZANDREL_BENCH_SECONDS"))
        runSeconds = std::atof(value);
    std::vector<std::uint32_t> bitRates;
    for (int i = 1; i < argc; ++i) {
        const double value = std::atof(argv[i]);
        if (i == 1 && value > 0 && value < 10000)
            runSeconds = value;
        else if (value >= 10000 && value <= 1000000)
            bitRates.push_back(static_cast<std::uint32_t>(value));
        else {
            std::fprintf(stderr, "usage: %s [seconds] [bit rate ...]\n", argv[0]);
            return 2;
        }
    }
    if (runSeconds <= 0) {
        std::fprintf(stderr, "%s: the run needs a time above 0 s\n", argv[0]);
        return 2;
    }
    if (bitRates.empty())
        bitRates = {10000, 125000, 500000};
    setenv(DriverPathVariable, DRIVER_DIR, 1);

    std::printf(
        "supervision_bench: %d nodes on the embedded simulated CANopen network, wire timing "
        "on, guarded as the program guards them (NMT_StartGuarding, guard time %u ms, "
        "life-time factor %u), %.0f s of real time per bit rate. The simulated nodes and "
        "the bus run in this process.\n",
        Nodes, GuardTimeMs, GuardLifeTimeFactor, runSeconds);
    std::fflush(stdout);
    std::vector<Run> runs;
    try {
        Driver driver;
        for (const std::uint32_t bitRate : bitRates) {
            runs.push_back(runAt(driver, bitRate, runSeconds));
            print(runs.back());
            std::fflush(stdout);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "supervision_bench: %s\n", error.what());
        return 1;
    }

    std::printf("\n         |          |   supervision's share of the bus   |  writes (initiates)  "
                "|   nodes at the end    | CPU s per s\n"
                "bit rate | bus load |  all   | 0x700+n |  SDO   | 2nd half | 0x1017 0x100C 0x100D "
                "| online identity listed | all    2nd half\n");
    for (const Run& run : runs) {
        const Traffic& t = run.traffic;
        std::printf("%4u kb/s| %6.2f %% | %5.2f%% | %6.2f%% | %5.2f%% | %6.2f%%  | %6ld %6ld %6ld "
                    "| %6d %8d %6d | %.4f %.4f\n",
                    run.bitRate / 1000, percent(t.allBits, run, run.seconds),
                    percent(t.errorControlBits + t.sdoBits, run, run.seconds),
                    percent(t.errorControlBits, run, run.seconds),
                    percent(t.sdoBits, run, run.seconds),
                    percent(t.supervisionBitsSecondHalf, run, run.secondHalfSeconds),
                    writesTo(t, "write 0x1017"), writesTo(t, "write 0x100C"),
                    writesTo(t, "write 0x100D"), run.end.online, run.end.identityRight,
                    run.end.listed, run.cpuProcess, run.cpuProcessSecondHalf);
    }
    return 0;
}
