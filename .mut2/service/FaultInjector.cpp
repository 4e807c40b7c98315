#include "FaultInjector.h"

#include <charconv>

#include "FormCodec.h"

namespace palvero::service {
namespace {

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    size_t end = text.find(separator, start);
    out.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return out;
    start = end + 1;
  }
}

std::optional<int64_t> number(const std::string& text) {
  int64_t value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

bool failWith(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

bool parseAction(const std::string& text, FaultAction& action, std::string* error) {
  if (text == "drop") {
    action.type = FaultAction::Type::kDrop;
  } else if (text == "reset") {
    action.type = FaultAction::Type::kReset;
  } else if (text == "malformed") {
    action.type = FaultAction::Type::kMalformed;
  } else if (text.rfind("body=", 0) == 0) {
    action.type = FaultAction::Type::kBody;
    action.body = urlDecode(text.substr(5));
  } else if (text.rfind("delay=", 0) == 0) {
    auto ms = number(text.substr(6));
    if (!ms || *ms < 0) return failWith(error, "delay needs milliseconds: " + text);
    action.type = FaultAction::Type::kDelay;
    action.delayMs = *ms;
  } else if (auto code = number(text); code && *code >= 400 && *code <= 599) {
    action.type = FaultAction::Type::kStatus;
    action.status = static_cast<int>(*code);
  } else {
    return failWith(error, "unknown action: " + text);
  }
  return true;
}

}  // namespace

std::string FaultAction::describe() const {
  switch (type) {
    case Type::kStatus:
      return std::to_string(status);
    case Type::kDrop:
      return "drop";
    case Type::kReset:
      return "reset";
    case Type::kDelay:
      return "delay=" + std::to_string(delayMs);
    case Type::kMalformed:
      return "malformed";
    case Type::kBody:
      return "body=" + body;
  }
  return "?";
}

std::optional<FaultRule> FaultInjector::parse(const std::string& text, std::string* error) {
  auto fields = split(text, ':');
  if (fields.size() < 2 || fields.size() > 4 || fields[0].empty()) {
    failWith(error, "expected KIND:ACTION[:COUNT][:skip=K], got \"" + text + "\"");
    return std::nullopt;
  }
  FaultRule rule;
  rule.kind = fields[0];
  if (!parseAction(fields[1], rule.action, error)) return std::nullopt;
  for (size_t i = 2; i < fields.size(); ++i) {
    const std::string& f = fields[i];
    if (f.rfind("skip=", 0) == 0) {
      auto skip = number(f.substr(5));
      if (!skip || *skip < 0) {
        failWith(error, "bad skip count: " + f);
        return std::nullopt;
      }
      rule.skip = *skip;
    } else if (f == "always") {
      rule.remaining = -1;
    } else if (auto count = number(f); count && *count > 0 && i == 2) {
      rule.remaining = *count;
    } else {
      failWith(error, "bad count: " + f);
      return std::nullopt;
    }
  }
  return rule;
}

void FaultInjector::add(FaultRule rule) {
  std::lock_guard lock(mutex_);
  rules_.push_back(std::move(rule));
}

void FaultInjector::clear() {
  std::lock_guard lock(mutex_);
  rules_.clear();
}

std::optional<FaultAction> FaultInjector::take(const std::string& kind) {
  std::lock_guard lock(mutex_);
  for (auto it = rules_.begin(); it != rules_.end(); ++it) {
    if (it->kind != "*" && it->kind != kind) continue;
    if (it->skip > 0) {
      --it->skip;
      continue;
    }
    FaultAction action = it->action;
    if (it->remaining > 0 && --it->remaining == 0) rules_.erase(it);
    return action;
  }
  return std::nullopt;
}

size_t FaultInjector::ruleCount() const {
  std::lock_guard lock(mutex_);
  return rules_.size();
}

}  // namespace palvero::service
