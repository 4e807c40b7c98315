#include <exception>

#include "engine/format/util/Functions.h"
#include "state/LogWriter.h"

namespace palvero {

std::optional<std::string> Functions::UrlEncode(const std::string& text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  try {
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
      if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
          c == '_' || c == '~') {
        out.push_back(static_cast<char>(c));
      } else if (c == ' ') {
        out.push_back('+');
      } else {
        out.push_back('%');
        out.push_back(kDigits[c >> 4]);
        out.push_back(kDigits[c & 0x0f]);
      }
    }
    return out;
  } catch (const std::exception& e) {
    LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther,
                                       std::string("Exception in UrlEncode: ") + e.what(), kLogFailure);
    return std::nullopt;
  }
}

}  // namespace palvero
