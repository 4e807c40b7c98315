#include "SettingsDocument.h"

#include "base/JsonText.h"

namespace palvero::service {
namespace {

// Replaces each (null) outside a string by null.
std::string withBareNulls(const std::string& body) {
  std::string out;
  out.reserve(body.size());
  bool inString = false;
  for (size_t i = 0; i < body.size(); ++i) {
    char c = body[i];
    if (inString) {
      out.push_back(c);
      if (c == '\\' && i + 1 < body.size()) {
        out.push_back(body[++i]);
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (body.compare(i, 6, "(null)") == 0) {
      out += "null";
      i += 5;
      continue;
    }
    out.push_back(c);
  }
  return out;
}

void dropNullTexts(Value& value) {
  if (value.is_object()) {
    for (auto it = value.begin(); it != value.end();) {
      if (it->is_string() && it->get<std::string>() == "(null)") {
        it = value.erase(it);
      } else {
        dropNullTexts(*it);
        ++it;
      }
    }
  } else if (value.is_array()) {
    for (auto& item : value) dropNullTexts(item);
  }
}

}  // namespace

std::optional<Value> SettingsDocument::parse(const std::string& body) {
  Value value = parseJson(body);
  if (value.is_discarded()) value = parseJson(withBareNulls(body));
  if (!value.is_object()) return std::nullopt;
  dropNullTexts(value);
  return value;
}

}  // namespace palvero::service
