#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

// The text of a fixed-width character field: up to its terminating zero, or the whole
// field when a node or a stored record left the zero out.
template <std::size_t N> std::string FixedFieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// Copies text into a fixed-width field, cut to fit, always zero-terminated and zero-filled.
template <std::size_t N> void SetFixedFieldText(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}
