// Reads back what the code under test wrote through LogWriter: the text of
// each line of the current log file, without the "Log<N> | thread | type |
// date | session | " prefix.
#pragma once

#include <string>
#include <vector>

namespace palvero::testing {

// The text of every line of the current log file, oldest first.
std::vector<std::string> loggedTexts();
// The texts that begin with `prefix`.
std::vector<std::string> loggedTextsStartingWith(const std::string& prefix);

}  // namespace palvero::testing
