// What the user ticked in the restore tree, as three-state boxes: the items
// chosen and the items taken out again below them. A box checked or
// unchecked gives everything below it its state; a folder shows as partly
// checked while something below it differs from it, and a folder whose
// shown children are all checked or all unchecked shows as they do.
//
// One device at a time: ticking an item of another device starts a new
// selection (a restore of two devices at once would put files of the same
// path on top of each other).
//
// Thread contract: a value; use one instance from one thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/RemoteBrowser.h"
#include "base/Value.h"
#include "protocol/BackupedFile.h"

namespace palvero {

class RestoreSelection {
 public:
  enum class State { kUnchecked, kPartial, kChecked };

  State stateOf(const RemoteNode& node) const;
  // The state a folder shows when its children have been listed: theirs
  // when they agree, partly checked when not, its own when it has none.
  static State derived(State own, const std::vector<State>& children);
  // Checks or unchecks `node` and everything below it. True when this
  // dropped the items of another device.
  bool setChecked(const RemoteNode& node, bool checked);
  void clear();

  // Nothing is chosen.
  bool empty() const;
  // The device the items belong to ("" when empty).
  const std::string& deviceId() const { return deviceId_; }

  // The maps of the restore choice: path → [kind, device id] ("device",
  // "drive", "folder" or "file"; a device under the path "").
  Value filesAndFoldersForRestore() const;
  Value filesAndFoldersRemovedFromRestore() const;
  // When exactly one file and nothing else is chosen: that file, named by
  // its full path, with its device and versions (it then goes straight into
  // a chosen folder rather than under its whole path).
  std::optional<BackupedFile> singleFile() const;

 private:
  struct Item {
    RemoteNode::Kind kind;
    std::string path;
    bool chosen;
    int64_t size = 0;                         // files only
    std::vector<BackupFileVersion> versions;  // files only
  };
  // The innermost item at or above `node`, or nullptr.
  const Item* decidingItem(const RemoteNode& node) const;
  static bool covers(const Item& item, const RemoteNode& node);
  static bool strictlyBelow(const Item& item, const RemoteNode& node);
  static int depth(const Item& item);
  Value map(bool chosen) const;

  std::string deviceId_;
  std::vector<Item> items_;
};

}  // namespace palvero
