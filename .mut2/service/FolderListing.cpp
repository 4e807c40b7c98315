#include "FolderListing.h"

#include <algorithm>
#include <map>

namespace palvero::service {
namespace {

Value mark(bool deleted) { return Value(deleted ? 1 : 0); }

}  // namespace

std::string FolderListing::normalize(const std::string& path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out.push_back(c);
  }
  if (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

std::string FolderListing::driveOf(const std::string& path) {
  if (!path.empty() && path.front() == '/') return "/";
  return path.substr(0, path.find('/'));
}

std::vector<Value> FolderListing::entries(const std::vector<VersionRow>& rows, const std::string& path) {
  std::vector<Value> out;
  const std::string folder = normalize(path);
  if (folder.empty()) {
    std::map<std::string, bool> drives;
    for (const auto& row : rows) drives.emplace(driveOf(normalize(row.path)), true);
    for (const auto& [drive, unused] : drives) out.push_back({{"drive", drive}});
    return out;
  }
  const std::string prefix = folder.back() == '/' ? folder : folder + "/";
  std::map<std::string, bool> folders;  // name → every file beneath is deleted
  std::map<std::string, std::vector<const VersionRow*>> files;
  for (const auto& row : rows) {
    std::string stored = normalize(row.path);
    if (stored.size() <= prefix.size() || stored.compare(0, prefix.size(), prefix) != 0) continue;
    std::string rest = stored.substr(prefix.size());
    size_t slash = rest.find('/');
    if (slash == std::string::npos) {
      files[rest].push_back(&row);
    } else {
      auto [it, fresh] = folders.emplace(rest.substr(0, slash), true);
      it->second = it->second && row.toDelete;
    }
  }
  for (const auto& [name, deleted] : folders)
    out.push_back({{"folder", name}, {"toDelete", mark(deleted)}});
  for (const auto& [name, revisions] : files) {
    const VersionRow& latest = *revisions.back();
    Value versions = Value::array();
    for (const VersionRow* v : revisions) {
      versions.push_back({{"number", v->number}, {"size", v->size}, {"modified", v->modified}});
    }
    out.push_back({{"file", name},
                   {"size", latest.size},
                   {"toDelete", mark(latest.toDelete)},
                   {"version", std::move(versions)}});
  }
  return out;
}

std::vector<Value> FolderListing::tree(const std::vector<VersionRow>& rows, const std::string& path) {
  const std::string folder = normalize(path);
  const bool everything = folder.empty();
  const std::string prefix = everything ? std::string() : folder == "/" ? folder : folder + "/";
  // A name below "/": the stored path without its leading "/".
  auto nameOf = [](const std::string& stored) { return stored.front() == '/' ? stored.substr(1) : stored; };
  std::map<std::string, bool> folders;  // name → every file beneath is deleted
  std::map<std::string, std::vector<const VersionRow*>> files;
  for (const auto& row : rows) {
    std::string stored = normalize(row.path);
    if (stored.empty() || stored == "/") continue;
    if (!everything && (stored.size() <= prefix.size() || stored.compare(0, prefix.size(), prefix) != 0)) continue;
    files[nameOf(stored)].push_back(&row);
    // Every folder between the asked one and the file.
    for (size_t slash = stored.find('/', prefix.empty() ? 1 : prefix.size()); slash != std::string::npos;
         slash = stored.find('/', slash + 1)) {
      auto [it, fresh] = folders.emplace(nameOf(stored.substr(0, slash)), true);
      it->second = it->second && row.toDelete;
    }
  }
  std::vector<Value> out;
  for (const auto& [name, deleted] : folders) out.push_back({{"folder", name}, {"toDelete", deleted}});
  for (const auto& [name, revisions] : files) {
    const VersionRow& latest = *revisions.back();
    Value versions = Value::array();
    for (const VersionRow* v : revisions) {
      versions.push_back({{"number", v->number}, {"size", v->size}, {"modified", v->modified}});
    }
    out.push_back(
        {{"file", name}, {"size", latest.size}, {"toDelete", latest.toDelete}, {"version", std::move(versions)}});
  }
  return out;
}

Value FolderListing::page(const std::vector<Value>& entries, int64_t page, int64_t pageSize) {
  pageSize = std::max<int64_t>(pageSize, 1);
  const int64_t count = static_cast<int64_t>(entries.size());
  const int64_t pages = std::max<int64_t>(1, (count + pageSize - 1) / pageSize);
  page = std::max<int64_t>(page, 1);
  Value data = Value::array();
  for (int64_t i = (page - 1) * pageSize; i < std::min(count, page * pageSize); ++i) data.push_back(entries[i]);
  return {{"pagesCount", pages}, {"page", page}, {"data", std::move(data)}};
}

}  // namespace palvero::service
