// "get_statistic_by_categories", "get_top10" (category, page) and
// "get_support_info".
//
// Both statistics look at the latest revision of every path of the caller's
// account (all its devices) that is not marked deleted, grouped by
// FileCategories. get_statistic_by_categories: {"statistic": [{"name",
// "size"}]} with the bytes per category, "total_used" (their sum) and
// "total_files_count". get_top10: ten files a page (from 0) of one category
// ("others" for "other"), largest first: [{"name": path, "size"}]; a page
// that is no number from 0 to 1,000,000 is 400.
// get_support_info: {"organisation", "email", "phone"} as configured.
#include <algorithm>
#include <limits>
#include <map>

#include "FileCategories.h"
#include "FormCodec.h"
#include "HandlerRegistry.h"

namespace palvero::service {
namespace {

constexpr int64_t kTopPageSize = 10;
constexpr int64_t kMaxTopPage = 1000000;

// Sizes are at most 2^53 each, but there may be many.
int64_t saturatingAdd(int64_t a, int64_t b) {
  return a > std::numeric_limits<int64_t>::max() - b ? std::numeric_limits<int64_t>::max() : a + b;
}

std::vector<VersionRow> liveFilesOf(ServiceContext& ctx, int64_t accountId) {
  std::vector<VersionRow> out;
  for (const auto& owner : ctx.metadata.ownersOf(accountId)) {
    for (auto& row : ctx.metadata.latestVersions(owner)) {
      if (!row.toDelete) out.push_back(std::move(row));
    }
  }
  return out;
}

void handleStatistics(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  std::map<std::string, int64_t> sizes;
  for (const char* name : FileCategories::kNames) sizes[name] = 0;
  int64_t total = 0;
  int64_t count = 0;
  for (const auto& row : liveFilesOf(ctx, req.principal->accountId)) {
    int64_t& category = sizes[FileCategories::categoryOf(row.path)];
    category = saturatingAdd(category, std::max<int64_t>(row.size, 0));
    total = saturatingAdd(total, std::max<int64_t>(row.size, 0));
    ++count;
  }
  Value statistic = Value::array();
  for (const char* name : FileCategories::kNames) statistic.push_back({{"name", name}, {"size", sizes[name]}});
  statistic.push_back({{"name", "total_used"}, {"size", total}});
  statistic.push_back({{"name", "total_files_count"}, {"size", count}});
  reply.json(dumpJson({{"statistic", std::move(statistic)}}));
}

void handleTop10(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  std::string category = req.field("category");
  if (category == "others") category = "other";
  if (std::find_if(FileCategories::kNames.begin(), FileCategories::kNames.end(),
                   [&](const char* name) { return category == name; }) == FileCategories::kNames.end()) {
    reply.text(400, "unknown category");
    return;
  }
  std::optional<int64_t> pageNumber = boundedInteger(req.field("page"), 0, kMaxTopPage);
  if (!pageNumber) {
    reply.text(400, "bad page");
    return;
  }
  const int64_t page = *pageNumber;
  std::vector<VersionRow> files;
  for (auto& row : liveFilesOf(ctx, req.principal->accountId)) {
    if (FileCategories::categoryOf(row.path) == category) files.push_back(std::move(row));
  }
  std::sort(files.begin(), files.end(), [](const VersionRow& a, const VersionRow& b) {
    return a.size != b.size ? a.size > b.size : a.path < b.path;
  });
  Value list = Value::array();
  const int64_t count = static_cast<int64_t>(files.size());
  for (int64_t i = page * kTopPageSize; i < std::min(count, (page + 1) * kTopPageSize); ++i) {
    list.push_back({{"name", files[i].path}, {"size", files[i].size}});
  }
  reply.json(dumpJson(list));
}

void handleSupportInfo(ServiceContext& ctx, const ServiceRequest&, ServiceReply& reply) {
  reply.json(dumpJson({{"organisation", ctx.options.supportOrganisation},
                       {"email", ctx.options.supportEmail},
                       {"phone", ctx.options.supportPhone}}));
}

const HandlerRegistration kStatistics("get_statistic_by_categories", Access::kSession, handleStatistics);
const HandlerRegistration kTop10("get_top10", Access::kSession, handleTop10);
const HandlerRegistration kSupportInfo("get_support_info", Access::kSession, handleSupportInfo);

}  // namespace
}  // namespace palvero::service
