// "get_folder_page" (path, page, [sourceDeviceId]) and "get_files_list"
// (path).
//
// get_folder_page: the path "" without a device lists the account's devices
// ({"device": {"name", "deviceType", "id"}}); with a device (sourceDeviceId,
// else the caller) "" lists its drives, and any other path that folder's
// folders and files (FolderListing). Paged by --folder-page-size:
// {"pagesCount", "page", "data"}; an empty or zero page is the first, a page
// that is no number from 0 to 1,000,000 is 400. A sourceDeviceId outside
// the caller's account is 404.
//
// get_files_list: the whole tree under the caller's path in one JSON array
// (every folder and file beneath, named by their paths below "/"),
// "toDelete" as a boolean, packed as the only entry of a zip archive.
#include "FolderListing.h"
#include "FormCodec.h"
#include "HandlerRegistry.h"
#include "ZipPacker.h"

namespace palvero::service {
namespace {

constexpr int64_t kMaxPage = 1000000;

std::vector<Value> deviceEntries(ServiceContext& ctx, int64_t accountId) {
  std::vector<Value> out;
  for (const auto& device : ctx.metadata.devicesOf(accountId)) {
    const Value& record = device.record;
    out.push_back({{"device",
                    {{"name", record.value("Name", device.deviceId)},
                     {"deviceType", record.value("DeviceType", std::string("0"))},
                     {"id", device.deviceId}}}});
  }
  return out;
}

void handleFolderPage(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  const std::string& pageText = req.field("page");
  std::optional<int64_t> page = pageText.empty() ? 1 : boundedInteger(pageText, 0, kMaxPage);
  if (!page) {
    reply.text(400, "bad page");
    return;
  }
  const std::string& path = req.field("path");
  const std::string& source = req.field("sourceDeviceId");
  std::vector<Value> entries;
  if (path.empty() && source.empty()) {
    entries = deviceEntries(ctx, req.principal->accountId);
  } else {
    std::string owner = req.principal->id;
    if (!source.empty()) {
      auto device = ctx.metadata.device(source);
      if (!device || device->accountId != req.principal->accountId) {
        reply.text(404, "no such device");
        return;
      }
      owner = device->deviceId;
    }
    entries = FolderListing::entries(ctx.metadata.allVersions(owner), path);
  }
  reply.json(dumpJson(FolderListing::page(entries, *page, ctx.options.folderPageSize)));
}

void handleFilesList(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  Value list = Value::array();
  for (auto& entry : FolderListing::tree(ctx.metadata.allVersions(req.principal->id), req.field("path"))) {
    list.push_back(std::move(entry));
  }
  reply.bytes(ZipPacker::packOneEntry("files.json", dumpJson(list)));
}

const HandlerRegistration kFolderPage("get_folder_page", Access::kSession, handleFolderPage);
const HandlerRegistration kFilesList("get_files_list", Access::kSession, handleFilesList);

}  // namespace
}  // namespace palvero::service
