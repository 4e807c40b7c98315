#include "app/RemoteBrowser.h"

#include <algorithm>

#include "engine/PathRules.h"
#include "protocol/BackupedFolder.h"
#include "protocol/CommunicationServer.h"

namespace palvero {
namespace {

bool singleComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// The path a listing of `node` asks for.
std::string listingPath(const RemoteNode& node) {
  switch (node.kind) {
    case RemoteNode::Kind::kAccount:
    case RemoteNode::Kind::kDevice:
      return "";
    default:
      return node.path;
  }
}

}  // namespace

std::string RemoteNode::key() const { return std::to_string(static_cast<int>(kind)) + '\n' + deviceId + '\n' + path; }

RemoteBrowser::RemoteBrowser(std::shared_ptr<CommunicationServer> server) : server_(std::move(server)) {}

RemoteNode RemoteBrowser::account() { return RemoteNode{}; }

std::optional<std::vector<RemoteNode>> RemoteBrowser::children(const RemoteNode& node) {
  if (!server_ || node.kind == RemoteNode::Kind::kFile) return std::nullopt;
  // "" without a device lists the account's devices; with one, its drives.
  std::optional<std::string> device;
  if (node.kind != RemoteNode::Kind::kAccount) device = node.deviceId;
  const bool showDeleted = showDeleted_.load();
  auto listed = server_->getFolderWithPath(listingPath(node), device, showDeleted);
  if (!listed) return std::nullopt;

  std::vector<RemoteNode> folders;
  std::vector<RemoteNode> files;
  for (const BackupedFolder& sub : listed->subFolders) {
    RemoteNode child;
    child.name = sub.name;
    child.deviceId = sub.deviceId.empty() ? node.deviceId : sub.deviceId;
    child.isDeleted = sub.toDelete != 0;
    if (sub.type == BackupedFolder::kTypeDevice) {
      if (node.kind != RemoteNode::Kind::kAccount || sub.deviceId.empty()) continue;
      child.kind = RemoteNode::Kind::kDevice;
      child.deviceType = sub.deviceType;
    } else if (sub.type == BackupedFolder::kTypeDrive) {
      if (sub.name != "/" && !singleComponent(sub.name)) continue;
      child.kind = RemoteNode::Kind::kDrive;
      child.path = sub.name;
    } else {
      if (!singleComponent(sub.name)) continue;
      child.kind = RemoteNode::Kind::kFolder;
      child.path = PathRules::join(node.path, sub.name);
    }
    folders.push_back(std::move(child));
  }
  if (node.kind == RemoteNode::Kind::kDrive || node.kind == RemoteNode::Kind::kFolder) {
    for (const BackupedFile& file : listed->files) {
      if (!singleComponent(file.name)) continue;
      RemoteNode child;
      child.kind = RemoteNode::Kind::kFile;
      child.name = file.name;
      child.path = PathRules::join(node.path, file.name);
      child.deviceId = node.deviceId;
      child.isDeleted = file.toDelete;
      child.size = file.size;
      child.versions = file.versions;
      files.push_back(std::move(child));
    }
  }
  auto byName = [](const RemoteNode& a, const RemoteNode& b) { return a.name < b.name; };
  std::stable_sort(folders.begin(), folders.end(), byName);
  std::stable_sort(files.begin(), files.end(), byName);
  folders.insert(folders.end(), std::make_move_iterator(files.begin()), std::make_move_iterator(files.end()));
  return folders;
}

}  // namespace palvero
