#include "DynamicLibrary.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {

std::string executableDirectory() {
    std::vector<char> path(4096);
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0)
        return {};
    std::string exe(path.data(), static_cast<size_t>(n));
    auto slash = exe.rfind('/');
    return slash == std::string::npos ? std::string{} : exe.substr(0, slash);
}

std::vector<std::string> searchDirectories() {
    std::vector<std::string> dirs;
    if (const char* env = std::getenv(DriverPathVariable)) {
        std::string list(env);
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(':', start);
            if (end == std::string::npos)
                end = list.size();
            if (end > start)
                dirs.push_back(list.substr(start, end - start));
            start = end + 1;
        }
    }
    if (auto dir = executableDirectory(); !dir.empty())
        dirs.push_back(dir);
    return dirs;
}

} // namespace

const char* SharedObjectNameFor(const char* fileName, char* buffer, unsigned bufferSize) {
    std::string name(fileName ? fileName : "");
    if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".dll") == 0)
        name = "lib" + name.substr(0, name.size() - 4) + ".so";
    std::snprintf(buffer, bufferSize, "%s", name.c_str());
    return buffer;
}

HMODULE LoadLibraryA(const char* fileName) {
    if (!fileName || !*fileName)
        return nullptr;
    char soName[512];
    SharedObjectNameFor(fileName, soName, sizeof soName);
    if (std::string(soName).find('/') != std::string::npos)
        return dlopen(soName, RTLD_NOW | RTLD_LOCAL);
    for (const auto& dir : searchDirectories()) {
        std::string path = dir + "/" + soName;
        if (access(path.c_str(), F_OK) != 0)
            continue;
        if (HMODULE module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
            return module;
    }
    return nullptr;
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    if (!module || !name)
        return nullptr;
    return dlsym(module, name);
}

int FreeLibrary(HMODULE module) {
    if (!module)
        return 0;
    return dlclose(module) == 0 ? 1 : 0;
}
