#pragma once

#include <string>

namespace sim {

// Where simulated nodes keep their flash: $XDG_DATA_HOME/zandrel, else
// <home>/.local/share/zandrel with the home from $HOME or, without it, from the user
// database. Empty when there is no such place: nothing then goes to a shared temporary folder.
std::string ZandrelDataFolder();

} // namespace sim
