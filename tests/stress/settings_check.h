#pragma once
// Compares the settings file before and after the program ran: no value may be lost or changed,
// except those the program writes itself.

#include <string>
#include <vector>

namespace stress {

std::string FileBytes(const std::string& path);

// One line per value of before that is missing from after, or changed although the program never
// writes it. Empty when nothing was lost.
std::vector<std::string> LostValues(const std::string& before, const std::string& after);
// True when every line of before is in after, in the same order (after may have more), but for the
// lines of values the program writes itself.
bool LinesKeptInOrder(const std::string& before, const std::string& after);

}  // namespace stress
