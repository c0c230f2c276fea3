#include "DataFolder.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace sim {

std::string ZandrelDataFolder() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        return std::string(data) + "/zandrel";
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h == '/')
        home = h;
    else if (const passwd* user = ::getpwuid(::getuid());
             user && user->pw_dir && user->pw_dir[0] == '/')
        home = user->pw_dir;
    if (home.empty() || home == "/")
        return "";
    return home + "/.local/share/zandrel";
}

} // namespace sim
