#include "Fatal.h"

#include <cstdio>
#include <cstdlib>

void PlatformFatal(const char* message) {
    std::fprintf(stderr, "Zandrel: %s\n", message);
    std::fflush(stderr);
    std::abort();
}
