#include "ProgramLastError.h"

#include <dlfcn.h>

void SetProgramLastError(std::uint32_t value) {
    using Setter = void (*)(std::uint32_t);
    static const auto setter =
        reinterpret_cast<Setter>(::dlsym(RTLD_DEFAULT, "ZandrelSetLastError"));
    if (setter)
        setter(value);
}
