#include "CanTrace.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

namespace bus {

struct CanTrace::File {
    std::mutex mutex;
    std::FILE* stream = nullptr;
};

namespace {

// One trace object per file while any port uses it, so that the lines of several ports are
// written through one lock.
struct Registry {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<CanTrace>> open;
    std::set<std::string> reported; // files that could not be opened, told once
};

Registry& registry() {
    static Registry* r = new Registry; // never destroyed: ports may trace while exiting
    return *r;
}

} // namespace

CanTrace::CanTrace(std::unique_ptr<File> file) : file_(std::move(file)) {}

CanTrace::~CanTrace() {
    if (file_->stream)
        std::fclose(file_->stream);
}

std::shared_ptr<CanTrace> CanTrace::FromEnvironment() {
    const char* path = std::getenv(EnvironmentVariable);
    if (!path || !*path)
        return nullptr;
    return ForFile(path);
}

std::shared_ptr<CanTrace> CanTrace::ForFile(const std::string& path) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (auto it = r.open.find(path); it != r.open.end())
        if (auto trace = it->second.lock())
            return trace;
    std::FILE* stream = std::fopen(path.c_str(), "a");
    if (!stream) {
        const int error = errno;
        if (r.reported.insert(path).second)
            std::fprintf(stderr, "zandrel: cannot open the CAN trace file %s: %s; not tracing\n",
                         path.c_str(), std::strerror(error));
        return nullptr;
    }
    auto file = std::make_unique<File>();
    file->stream = stream;
    std::shared_ptr<CanTrace> trace(new CanTrace(std::move(file)));
    r.open[path] = trace;
    return trace;
}

void CanTrace::Record(std::string_view interfaceName, const CanFrame& frame) {
    Record(interfaceName, frame, std::chrono::system_clock::now());
}

void CanTrace::Record(std::string_view interfaceName, const CanFrame& frame,
                      std::chrono::system_clock::time_point when) {
    write(FormatLine(interfaceName, frame, when));
}

void CanTrace::RecordError(std::string_view interfaceName, std::uint32_t errorClass,
                           std::string_view data, std::chrono::system_clock::time_point when) {
    write(FormatErrorLine(interfaceName, errorClass, data, when));
}

void CanTrace::write(std::string line) {
    line += '\n';
    std::lock_guard lock(file_->mutex);
    std::fwrite(line.data(), 1, line.size(), file_->stream);
    std::fflush(file_->stream);
}

namespace {

// "(1733800000.123456) can0 "
std::string linePrefix(std::string_view interfaceName, std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto micros = duration_cast<microseconds>(when.time_since_epoch()).count();
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "(%010lld.%06lld) ",
                  static_cast<long long>(micros / 1000000),
                  static_cast<long long>(micros % 1000000));
    std::string line = stamp;
    line += interfaceName;
    line += ' ';
    return line;
}

} // namespace

std::string CanTrace::FormatLine(std::string_view interfaceName, const CanFrame& frame,
                                 std::chrono::system_clock::time_point when) {
    return linePrefix(interfaceName, when) + ToCandump(frame);
}

std::string CanTrace::FormatErrorLine(std::string_view interfaceName, std::uint32_t errorClass,
                                      std::string_view data,
                                      std::chrono::system_clock::time_point when) {
    char id[16];
    std::snprintf(id, sizeof id, "%08X#",
                  static_cast<unsigned>((errorClass & 0x1FFFFFFF) | ErrorFlag));
    std::string line = linePrefix(interfaceName, when) + id;
    static constexpr char hex[] = "0123456789ABCDEF";
    for (const char c : data) {
        const auto byte = static_cast<unsigned char>(c);
        line += hex[byte >> 4];
        line += hex[byte & 0x0F];
    }
    return line;
}

} // namespace bus
