#include "base/JsonText.h"

namespace palvero {

bool jsonDepthWithin(std::string_view text, size_t maxDepth) {
  size_t depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > maxDepth) return false;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
}

Value parseJson(std::string_view text, size_t maxDepth) {
  if (!jsonDepthWithin(text, maxDepth)) return Value(Value::value_t::discarded);
  return Value::parse(text.begin(), text.end(), nullptr, false);
}

}  // namespace palvero
