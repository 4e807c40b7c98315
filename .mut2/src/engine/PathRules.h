// Which paths the engine accepts. A version text has no escaping: a line
// feed in a path would forge lines, and a "|" can never be read back
// reliably, so such files are refused at backup with a reason instead of
// being recorded unrestorable. A carriage return is kept (lines are split
// at line feeds only). A restore never writes outside
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

  // "/"-separated paths as the service names them ("/a/b", "C:/x"):
  // `path` without trailing slashes ("/" stays "/").
  static std::string withoutTrailingSlashes(std::string path);
  // The folder part: "/a" for "/a/b", "/" for "/a", "" for a bare name.
  static std::string parentOf(const std::string& path);
  // The last component: "b" for "/a/b", the whole text for a bare name.
  static std::string lastComponent(const std::string& path);
  // `folder` and `name` joined by one "/" ("" + name is name).
  static std::string join(const std::string& folder, const std::string& name);
};

}  // namespace palvero
