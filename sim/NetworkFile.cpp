#include "NetworkFile.h"

#include "StateFiles.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace sim {

bool ParseWholeNumber(const std::string& text, int base, std::uint64_t max, std::uint64_t* value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || v > max)
        return false;
    *value = v;
    return true;
}

std::string TrimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool TakeNetworkFolder(const std::string& folder, const char* defaultText,
                       std::unique_ptr<FolderLock>* lock, std::string* text, std::string* path,
                       std::string* error) {
    if (folder.empty()) {
        *error = "no folder for the simulated network (neither XDG_DATA_HOME nor a home folder)";
        return false;
    }
    if (!MakeFolders(folder)) {
        *error = folder + ": cannot be made";
        return false;
    }
    auto taken = FolderLock::Take(folder, error);
    if (!taken)
        return false;
    *path = folder + "/network.ini";
    std::vector<std::uint8_t> bytes;
    if (ReadWholeFile(*path, &bytes)) {
        text->assign(bytes.begin(), bytes.end());
    } else {
        *text = defaultText;
        if (!WriteFileReplacing(*path, text->data(), text->size())) {
            *error = *path + ": cannot be written";
            return false;
        }
    }
    *lock = std::move(taken);
    return true;
}

} // namespace sim
