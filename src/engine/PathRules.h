// Which paths the engine accepts. A version text has no escaping: a line
// feed or carriage return in a path would forge lines, and a "|" can never
// be read back reliably, so such files are refused at backup with a reason
// instead of being recorded unrestorable. A restore never writes outside
// what the caller asked for: paths with ".." components are refused.
//
// Thread contract: pure functions; safe from any thread.
#pragma once

#include <optional>
#include <string>

namespace palvero {

class PathRules {
 public:
  // Why `path` cannot be named in a version text; nothing when it can.
  static std::optional<std::string> versionTextProblem(const std::string& path);
  // True when a "/"-separated component of `path` is "..".
  static bool hasParentComponent(const std::string& path);
  // True when `path` is `root` or lies beneath it, compared by whole
  // components ("/a/bc" is not beneath "/a/b"); neither may have "..".
  static bool isBeneath(const std::string& path, const std::string& root);
};

}  // namespace palvero
