// printf-style formatting into std::string, for the system's fixed log lines
// and request texts ("%@" of the stored formats becomes "%s").
#pragma once

#include <string>
#include <string_view>

namespace palvero {

std::string stringWithFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// `text` as the contents of a JSON string (without the surrounding quotes):
// quote, backslash and control characters escaped, every other byte kept.
std::string jsonEscaped(std::string_view text);

}  // namespace palvero
