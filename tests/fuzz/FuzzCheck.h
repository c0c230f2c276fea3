#pragma once

#include <cstdio>
#include <cstdlib>

// A promise of the code under test that an input broke: says which, where, and aborts, so
// that the fuzzer keeps the input and the replay fails.
#define FUZZ_CHECK(condition, promise)                                                             \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: promise broken: %s\n", __FILE__, __LINE__, promise);      \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
