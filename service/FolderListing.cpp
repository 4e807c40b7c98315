#include "FolderListing.h"

#include <algorithm>
#include <map>

#include "base/JsonText.h"

namespace palvero::service {
namespace {

Value mark(bool deleted) { return Value(deleted ? 1 : 0); }

// An entry named `name` under `key`. JSON text cannot carry a name that is
// not UTF-8 (a Linux file name may hold any bytes): it is written with
// U+FFFD in place of the bad bytes as before, and "nameBytes" holds its
// exact bytes in hexadecimal, so that a restore can give the file its name.
Value named(const char* key, const std::string& name) {
  Value entry{{key, name}};
  if (!isUtf8(name)) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(name.size() * 2);
    for (unsigned char c : name) {
      hex.push_back(kDigits[c >> 4]);
      hex.push_back(kDigits[c & 0x0F]);
    }
    entry["nameBytes"] = std::move(hex);
  }
  return entry;
}

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
  for (const auto& [name, deleted] : folders) {
    Value entry = named("folder", name);
    entry["toDelete"] = mark(deleted);
    out.push_back(std::move(entry));
  }
  for (const auto& [name, revisions] : files) {
    const VersionRow& latest = *revisions.back();
    Value versions = Value::array();
    for (const VersionRow* v : revisions) {
      versions.push_back({{"number", v->number}, {"size", v->size}, {"modified", v->modified}});
    }
    Value entry = named("file", name);
    entry["size"] = latest.size;
    entry["toDelete"] = mark(latest.toDelete);
    entry["version"] = std::move(versions);
    out.push_back(std::move(entry));
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
  for (const auto& [name, deleted] : folders) {
    Value entry = named("folder", name);
    entry["toDelete"] = deleted;
    out.push_back(std::move(entry));
  }
  for (const auto& [name, revisions] : files) {
    const VersionRow& latest = *revisions.back();
    Value versions = Value::array();
    for (const VersionRow* v : revisions) {
      versions.push_back({{"number", v->number}, {"size", v->size}, {"modified", v->modified}});
    }
    Value entry = named("file", name);
    entry["size"] = latest.size;
    entry["toDelete"] = latest.toDelete;
    entry["version"] = std::move(versions);
    out.push_back(std::move(entry));
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
