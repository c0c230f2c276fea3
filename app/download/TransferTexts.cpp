#include "TransferTexts.h"

#include <cstdio>

std::string RateText(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1024.0)
        std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    return text;
}

std::string DurationText(double seconds) {
    const long whole = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}
