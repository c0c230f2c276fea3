#include "DynamicLibrary.h"

#include "LastError.h"

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
    if (auto dir = executableDirectory(); !dir.empty()) {
        dirs.push_back(dir); // the build tree, or a copy with the drivers beside the program
        dirs.push_back(dir + "/" + ZANDREL_DRIVER_DIR_FROM_BIN); // an installed tree
    }
    return dirs;
}

// The text of the last failed load on this thread.
thread_local std::string lastLoadError;

// The Win32 error that stands for a failed dlopen, from the text dlerror gave.
DWORD errorFor(const std::string& reason) {
    if (reason.find("undefined symbol") != std::string::npos)
        return ERROR_PROC_NOT_FOUND;
    if (reason.find("No such file or directory") != std::string::npos)
        return ERROR_MOD_NOT_FOUND; // the file itself or a library it needs
    return ERROR_BAD_EXE_FORMAT;
}

// dlopen of one file; on failure: null, the last-error value set, and one line on standard
// error naming the library and the reason.
HMODULE openFile(const char* fileName, const std::string& path) {
    dlerror(); // clear an earlier text
    if (HMODULE module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
        return module;
    const char* text = dlerror();
    std::string reason = text ? text : "unknown error";
    for (char& c : reason)
        if (c == '\n' || c == '\r')
            c = ' ';
    // dlerror's text usually starts with the path itself; name the file once either way.
    lastLoadError = reason.rfind(path, 0) == 0 ? reason : path + ": " + reason;
    const DWORD error = errorFor(reason);
    std::fprintf(stderr, "Zandrel: LoadLibraryA(\"%s\") failed (error %u): %s\n", fileName,
                 static_cast<unsigned>(error), lastLoadError.c_str());
    SetLastError(error);
    return nullptr;
}

} // namespace

const char* SharedObjectNameFor(const char* fileName, char* buffer, unsigned bufferSize) {
    std::string name(fileName ? fileName : "");
    if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".dll") == 0)
        name = "lib" + name.substr(0, name.size() - 4) + ".so";
    std::snprintf(buffer, bufferSize, "%s", name.c_str());
    return buffer;
}

const char* LastLibraryLoadError() {
    return lastLoadError.c_str();
}

HMODULE LoadLibraryA(const char* fileName) {
    lastLoadError.clear();
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    char soName[512];
    SharedObjectNameFor(fileName, soName, sizeof soName);
    std::vector<std::string> candidates;
    if (std::string(soName).find('/') != std::string::npos)
        candidates.push_back(soName); // a path: that file only
    else
        for (const auto& dir : searchDirectories())
            candidates.push_back(dir + "/" + soName);
    // The first folder that holds the file decides: a file there that does not load is an
    // error, never a reason to take a library of the same name from a later folder (a
    // broken fake driver must not quietly bring in the real one).
    for (const auto& path : candidates)
        if (access(path.c_str(), F_OK) == 0)
            return openFile(fileName, path);
    lastLoadError = std::string(soName) + ": not found";
    SetLastError(ERROR_MOD_NOT_FOUND);
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
