// Percent-encoding of form values (moves to Functions::UrlEncode once the
// format layer's utility class exists).
#pragma once

#include <optional>
#include <string>

namespace palvero {

// Letters, digits and "-._~" are kept, a blank becomes "+", every other byte
// "%XX" with upper-case digits. Text that is not valid UTF-8 (a Linux file
// name may be any bytes) is encoded byte for byte too, so nothing is lost.
std::optional<std::string> urlEncode(const std::string& text);

}  // namespace palvero
