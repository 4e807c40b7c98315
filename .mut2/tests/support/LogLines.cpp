#include "support/LogLines.h"

#include <fstream>

#include "state/LogWriter.h"

namespace palvero::testing {

std::vector<std::string> loggedTexts() {
  std::ifstream in(LogWriter::sharedLogger().currentLogFilepath());
  std::vector<std::string> out;
  std::string line;
  while (std::getline(in, line)) {
    size_t at = 0;
    for (int i = 0; i < 5 && at != std::string::npos; ++i) {
      at = line.find(" | ", at);
      if (at != std::string::npos) at += 3;
    }
    out.push_back(at == std::string::npos ? line : line.substr(at));
  }
  return out;
}

std::vector<std::string> loggedTextsStartingWith(const std::string& prefix) {
  std::vector<std::string> out;
  for (auto& text : loggedTexts()) {
    if (text.compare(0, prefix.size(), prefix) == 0) out.push_back(std::move(text));
  }
  return out;
}

}  // namespace palvero::testing
