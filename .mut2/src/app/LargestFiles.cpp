#include "app/LargestFiles.h"

#include <algorithm>

#include "app/UsageModel.h"
#include "engine/format/util/Functions.h"
#include "protocol/CommunicationServer.h"
#include "selection/CommonExtensions.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

void logFailure(const std::string& text) {
  LogWriter::sharedLogger().logEntry(kSessionEnded, kSessionOther, text, kLogFailure);
}

int64_t sizeOf(const Value& item) {
  auto it = item.find("size");
  if (it == item.end()) return 0;
  if (it->is_number()) return it->get<int64_t>();
  if (it->is_string()) return std::strtoll(it->get_ref<const std::string&>().c_str(), nullptr, 10);
  return 0;
}

}  // namespace

LargestFiles::LargestFiles(std::shared_ptr<CommunicationServer> server)
    : server_(server ? std::move(server) : CommunicationServer::create()) {}

std::optional<std::vector<LargestFiles::Entry>> LargestFiles::fetchPage(const std::string& category,
                                                                      int64_t page) {
  if (!server_->syncAuthorise()) {
    logFailure("Get top 10 files - authorise fail");
    return std::nullopt;
  }
  std::optional<Value> reply = server_->getTop10Files(category, page);
  if (!reply) return std::nullopt;
  std::vector<Entry> entries;
  if (!reply->is_array()) return entries;
  for (const Value& item : *reply) {
    if (!item.is_object() || !item.contains("name") || !item["name"].is_string()) continue;
    Entry entry;
    entry.path = item["name"].get<std::string>();
    auto slash = entry.path.find_last_of('/');
    entry.name = slash == std::string::npos ? entry.path : entry.path.substr(slash + 1);
    entry.size = sizeOf(item);
    std::string number;
    std::string unit;
    UsageModel::sizeParts(entry.size, number, unit);
    entry.sizeText = number + " " + unit;
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string LargestFiles::rootedPath(const std::string& path) {
  size_t start = path.find_first_not_of('/');
  return "/" + (start == std::string::npos ? std::string() : path.substr(start));
}

std::string LargestFiles::deletionList(const std::string& path) {
  // Value::dump escapes quotes and backslashes that a path may hold.
  return "[" + Value(rootedPath(path)).dump() + "]";
}

bool LargestFiles::deleteFile(const std::string& path) {
  if (rootedPath(path) == "/") return false;
  if (!server_->syncAuthorise()) {
    logFailure("Delete file from top 10 - authorise fail");
    return false;
  }
  std::optional<std::string> encoded = Functions::UrlEncode(deletionList(path));
  if (!encoded || !server_->syncDeleteVerFile(*encoded, 0, std::nullopt, true)) return false;
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  std::vector<std::string> excluded = extensions.filesToBeExcludedFromBackup();
  std::string rooted = rootedPath(path);
  if (std::find(excluded.begin(), excluded.end(), rooted) == excluded.end()) excluded.push_back(rooted);
  extensions.setFilesToBeExcludedFromBackup(excluded);
  extensions.saveExtensions();
  return true;
}

}  // namespace palvero
