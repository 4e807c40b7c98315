// "delete": drops the versions of the caller's files chosen by exactly one
// criterion: path (one path or a JSON array of paths; a path also takes
// everything under it), size (files whose latest revision is larger), or
// extension (one or a JSON array, compared without regard to case).
// immediately = "1" removes the revisions now; otherwise they are marked
// deleted and stay readable until an upload or an undelete clears the mark.
#include <algorithm>
#include <cctype>
#include <limits>
#include <optional>
#include <set>

#include "FormCodec.h"
#include "HandlerRegistry.h"
#include "base/JsonText.h"

namespace palvero::service {
namespace {

// Nothing when a list is not one: read as a single name it would match
// nothing and the caller would be told its files were deleted.
std::optional<std::vector<std::string>> textList(const std::string& value) {
  if (value.empty() || value.front() != '[') return std::vector<std::string>{value};
  Value list = parseJson(value);
  if (!list.is_array()) return std::nullopt;
  std::vector<std::string> out;
  for (const auto& item : list) {
    if (!item.is_string()) return std::nullopt;
    out.push_back(item.get<std::string>());
  }
  return out;
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool underOrAt(const std::string& path, std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return path == folder ||
         (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/');
}

void handleDelete(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  const std::string& owner = req.principal->id;
  std::set<std::string> chosen;
  auto latest = ctx.metadata.latestVersions(owner);
  if (req.has("path") && !req.field("path").empty()) {
    auto targets = textList(req.field("path"));
    if (!targets) {
      reply.text(400, "bad path list");
      return;
    }
    for (const auto& target : *targets) {
      if (target.empty()) continue;
      for (const auto& v : latest) {
        if (underOrAt(v.path, target)) chosen.insert(v.path);
      }
    }
  } else if (req.has("size") && !req.field("size").empty()) {
    std::optional<int64_t> limit = boundedInteger(req.field("size"), 1, std::numeric_limits<int64_t>::max());
    if (!limit) {
      reply.text(400, "bad size");
      return;
    }
    for (const auto& v : latest) {
      if (v.size > *limit) chosen.insert(v.path);
    }
  } else if (req.has("extension") && !req.field("extension").empty()) {
    auto extensions = textList(req.field("extension"));
    if (!extensions) {
      reply.text(400, "bad extension list");
      return;
    }
    for (auto extension : *extensions) {
      extension = lower(extension);
      if (extension.empty()) continue;
      if (extension.front() != '.') extension.insert(extension.begin(), '.');
      for (const auto& v : latest) {
        std::string path = lower(v.path);
        if (path.size() > extension.size() &&
            path.compare(path.size() - extension.size(), extension.size(), extension) == 0) {
          chosen.insert(v.path);
        }
      }
    }
  } else {
    reply.text(400, "path, size or extension required");
    return;
  }
  auto objects = ctx.metadata.deletePaths(owner, {chosen.begin(), chosen.end()}, req.field("immediately") == "1");
  for (const auto& object : objects) ctx.versions.remove(object);
  reply.text(200, "ok");
}

const HandlerRegistration kDelete("delete", Access::kSession, handleDelete);

}  // namespace
}  // namespace palvero::service
