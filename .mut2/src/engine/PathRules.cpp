#include "engine/PathRules.h"

namespace palvero {

std::optional<std::string> PathRules::versionTextProblem(const std::string& path) {
  if (path.find('\n') != std::string::npos) return "its path contains a line feed";
  if (path.find('|') != std::string::npos) return "its path contains \"|\"";
  return std::nullopt;
}

bool PathRules::hasParentComponent(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0) return true;
    start = end + 1;
  }
  return false;
}

bool PathRules::isBeneath(const std::string& path, const std::string& root) {
  if (hasParentComponent(path) || hasParentComponent(root) || root.empty()) return false;
  std::string base = root;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base == "/") return !path.empty() && path.front() == '/';
  if (path.compare(0, base.size(), base) != 0) return false;
  return path.size() == base.size() || path[base.size()] == '/';
}

std::string PathRules::withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string PathRules::parentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string PathRules::lastComponent(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string PathRules::join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace palvero
