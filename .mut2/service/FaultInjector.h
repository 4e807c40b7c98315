// Fault rules for tests: for the next N requests of a kind, answer a status,
// drop or reset the connection before answering, delay, answer a malformed
// body, or answer 200 with a given body instead of the real answer.
//
// Rule text:  KIND:ACTION[:COUNT][:skip=K]
//   KIND    a request kind ("get_block"), or "*" for every kind
//   ACTION  a status code 400-599 | drop | reset | delay=MS | malformed |
//           body=TEXT (TEXT URL-encoded, so it may hold ":")
//   COUNT   how many requests it applies to (default 1), or "always"
//   skip=K  let the first K matching requests through untouched
// Examples: "get_block:429:3", "upload_blocks_multi:drop", "ping:delay=1500",
//           "upload_ver:500:always", "check_block:401:1:skip=2".
//
// Rules are tried in the order they were added; the first rule that matches
// a request and is not skipping it applies, and a delay is followed by the
// normal answer.
//
// Thread contract: every member is safe from any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace palvero::service {

struct FaultAction {
  enum class Type { kStatus, kDrop, kReset, kDelay, kMalformed, kBody };
  Type type = Type::kStatus;
  int status = 0;       // kStatus
  int64_t delayMs = 0;  // kDelay
  std::string body;     // kBody
  std::string describe() const;
};

struct FaultRule {
  std::string kind;
  FaultAction action;
  int64_t remaining = 1;  // -1: always
  int64_t skip = 0;
};

class FaultInjector {
 public:
  // Parses a rule; nothing (and `*error` set) when the text is not a rule.
  static std::optional<FaultRule> parse(const std::string& text, std::string* error = nullptr);

  void add(FaultRule rule);
  void clear();
  // The action for this request of `kind`, consuming one use of the rule.
  std::optional<FaultAction> take(const std::string& kind);
  size_t ruleCount() const;

 private:
  mutable std::mutex mutex_;
  std::vector<FaultRule> rules_;  // guarded by mutex_
};

}  // namespace palvero::service
