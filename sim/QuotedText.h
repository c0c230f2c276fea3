#pragma once

#include <string>
#include <string_view>

namespace sim {

// The most of a line that a message quotes.
inline constexpr std::size_t MaxQuotedCharacters = 80;

// Text from a file as a message quotes it: at most its first 80 characters, "..." when there
// were more, and every byte that is not printable ASCII written as \xHH (a tab as \t), so
// that what a file holds can neither flood nor steer the terminal that shows the message.
std::string Quoted(std::string_view text);

} // namespace sim
