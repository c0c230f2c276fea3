#pragma once

#include "LastError.h"

#include <cstdint>

// Makes a call that changes nothing when made again (a read, a selection, a write of the same
// value) once more each time the node leaves it unanswered, that is, when it fails with
// noAnswer in the last-error value; at most `attempts` calls in all. A refusal, or any
// failure when noAnswer is 0, ends it at once. Returns the last call's result, its last-error
// value left as it was.
template <typename Call>
std::int32_t RepeatWhileUnanswered(int attempts, DWORD noAnswer, Call&& call) {
    std::int32_t result = 0;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        SetLastError(0);
        result = call();
        if (result || noAnswer == 0 || GetLastError() != noAnswer)
            break;
    }
    return result;
}
