#include "base/JsonText.h"

namespace palvero {

bool isUtf8(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  for (size_t i = 0; i < size;) {
    const unsigned char c = bytes[i];
    size_t length = 1;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + length > size || bytes[i + 1] < low || bytes[i + 1] > high) return false;
    for (size_t k = 2; k < length; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

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
