// The service's tree of the account's backups, as the restore page browses
// it: the devices, each device's drives, and the folders and files below,
// one level at a time. The service sends a level in pages; every page is
// read before the level is returned. Entries deleted on their device are
// left out unless show-deleted is on, and are marked as deleted when shown.
//
// Thread contract: children() blocks on the network (call it off the main
// thread); several calls may run at once. setShowDeleted() may be called
// from any thread and applies to the next listing.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/BackupFileVersion.h"

namespace palvero {

class CommunicationServer;

struct RemoteNode {
  enum class Kind { kAccount, kDevice, kDrive, kFolder, kFile };

  Kind kind = Kind::kAccount;
  std::string name;
  // The path on its device: "" for the account and a device, the drive's
  // name for a drive ("/"), the full path for folders and files.
  std::string path;
  // The device it belongs to ("" for the account).
  std::string deviceId;
  std::string deviceType;  // devices only, the service's code
  bool isDeleted = false;
  int64_t size = 0;                         // files only
  std::vector<BackupFileVersion> versions;  // files only, oldest first

  bool isFolderLike() const { return kind != Kind::kFile; }
  // Identifies the node among all devices: kind, device and path.
  std::string key() const;
};

class RemoteBrowser {
 public:
  explicit RemoteBrowser(std::shared_ptr<CommunicationServer> server);

  void setShowDeleted(bool on) { showDeleted_.store(on); }
  bool showDeleted() const { return showDeleted_.load(); }

  // The account node, whose children are the devices.
  static RemoteNode account();
  // The entries directly inside `node`: folders first, then files, each by
  // name. Nothing when the service did not list it (not the same as an
  // empty folder); names that are not a single component are left out.
  std::optional<std::vector<RemoteNode>> children(const RemoteNode& node);

 private:
  std::shared_ptr<CommunicationServer> server_;
  std::atomic<bool> showDeleted_{false};
};

}  // namespace palvero
