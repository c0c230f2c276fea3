#pragma once

#include <string>

// How a transfer's speed and the time it has left are written for the user, in the windows
// and on a terminal alike.

// "12.3 KiB/s", "830 B/s".
std::string RateText(double bytesPerSecond);
// "0:07", "12:30".
std::string DurationText(double seconds);
