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
    const std::string line = FormatLine(interfaceName, frame, when) + '\n';
    std::lock_guard lock(file_->mutex);
    std::fwrite(line.data(), 1, line.size(), file_->stream);
    std::fflush(file_->stream);
}

std::string CanTrace::FormatLine(std::string_view interfaceName, const CanFrame& frame,
                                 std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto micros = duration_cast<microseconds>(when.time_since_epoch()).count();
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "(%010lld.%06lld) ",
                  static_cast<long long>(micros / 1000000),
                  static_cast<long long>(micros % 1000000));
    std::string line = stamp;
    line += interfaceName;
    line += ' ';
    line += ToCandump(frame);
    return line;
}

} // namespace bus
