#include "LogRedaction.h"

#include <algorithm>
#include <cctype>

#include "FormCodec.h"
#include "RequestLog.h"
#include "base/JsonText.h"

namespace palvero::service {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

bool endsWith(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Replaces secret values beneath `value`; true when anything was replaced.
bool redactValue(Value& value) {
  bool changed = false;
  if (value.is_object()) {
    for (auto it = value.begin(); it != value.end(); ++it) {
      if (isSecretName(it.key())) {
        *it = kRedacted;
        changed = true;
      } else {
        changed = redactValue(*it) || changed;
      }
    }
  } else if (value.is_array()) {
    for (auto& item : value) changed = redactValue(item) || changed;
  }
  return changed;
}

std::string percentEncode(const std::string& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kDigits[c >> 4]);
      out.push_back(kDigits[c & 15]);
    }
  }
  return out;
}

}  // namespace

bool isSecretName(std::string_view name) {
  std::string key = lower(name);
  return key == "pass" || key.find("password") != std::string::npos || key.find("cookie") != std::string::npos ||
         endsWith(key, "cipher");
}

std::string redactJsonText(const std::string& text) {
  size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos || (text[start] != '{' && text[start] != '[')) return text;
  std::string folded = lower(text);
  if (folded.find("pass") == std::string::npos && folded.find("cookie") == std::string::npos &&
      folded.find("cipher") == std::string::npos) {
    return text;
  }
  Value value = parseJson(text);
  if (value.is_discarded() || !redactValue(value)) return text;
  return dumpJson(value);
}

std::string redactForm(const std::string& form) {
  std::string out;
  size_t start = 0;
  while (start <= form.size()) {
    size_t end = form.find('&', start);
    if (end == std::string::npos) end = form.size();
    std::string_view pair(form.data() + start, end - start);
    size_t equals = pair.find('=');
    std::string key = urlDecode(pair.substr(0, equals));
    if (!out.empty() || start > 0) out.push_back('&');
    if (equals != std::string_view::npos && isSecretName(key)) {
      out.append(pair.substr(0, equals)).append("=").append(kRedacted);
    } else if (equals != std::string_view::npos) {
      std::string value = urlDecode(pair.substr(equals + 1));
      std::string redacted = redactJsonText(value);
      if (redacted == value) {
        out.append(pair);
      } else {
        out.append(pair.substr(0, equals)).append("=").append(percentEncode(redacted));
      }
    } else {
      out.append(pair);
    }
    if (end == form.size()) break;
    start = end + 1;
  }
  return out;
}

void redactEntry(Value& entry) {
  for (const char* group : {"fields", "headers"}) {
    if (!entry.contains(group) || !entry[group].is_object()) continue;
    for (auto it = entry[group].begin(); it != entry[group].end(); ++it) {
      if (isSecretName(it.key())) {
        *it = kRedacted;
      } else if (it->is_string()) {
        *it = redactJsonText(it->get<std::string>());
      }
    }
  }
  if (entry.contains("body") && entry["body"].is_string()) entry["body"] = redactForm(entry["body"].get<std::string>());
  if (entry.contains("reply") && entry["reply"].is_string()) {
    entry["reply"] = redactJsonText(entry["reply"].get<std::string>());
  }
}

}  // namespace palvero::service
