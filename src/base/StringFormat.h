// printf-style formatting into std::string, for the system's fixed log lines
// and request texts ("%@" of the designs becomes "%s").
#pragma once

#include <string>

namespace palvero {

std::string stringWithFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace palvero
