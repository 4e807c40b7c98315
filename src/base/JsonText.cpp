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

bool forEachJsonArrayElement(std::string_view text, const std::function<void(const Value&)>& each,
                             size_t maxDepth) {
  if (!jsonDepthWithin(text, maxDepth)) return false;
  bool topIsArray = false;
  auto handOver = [&](int depth, Value::parse_event_t event, Value& parsed) {
    if (depth == 0 && event == Value::parse_event_t::array_start) topIsArray = true;
    if (depth != 1 || !topIsArray) return true;
    if (event == Value::parse_event_t::object_end || event == Value::parse_event_t::array_end ||
        event == Value::parse_event_t::value) {
      each(parsed);
      return false;  // not kept in the array
    }
    return true;
  };
  Value top = Value::parse(text.begin(), text.end(), handOver, false);
  return topIsArray && top.is_array();
}

}  // namespace palvero
