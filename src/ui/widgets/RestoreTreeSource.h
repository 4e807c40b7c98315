// The restore tree's rows: the service's devices, drives, folders and files
// (RemoteBrowser) under keys the folder tree can hold, and the state of each
// box from the restore selection. A folder whose children were listed shows
// what they agree on.
//
// Thread contract: children() runs on the background queue, everything else
// on the GUI thread; the node table is guarded by its own mutex.
#pragma once

#include <QtGlobal>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/RemoteBrowser.h"
#include "app/RestoreSelection.h"
#include "ui/widgets/FolderTree.h"

namespace palvero::ui {

class RestoreTreeSource : public FolderSource {
 public:
  explicit RestoreTreeSource(std::shared_ptr<RemoteBrowser> browser);

  // The key of the account row (the tree's root).
  static std::string rootKey() { return std::string(); }

  std::optional<std::vector<Entry>> children(const std::string& key) override;

  std::optional<RemoteNode> nodeOf(const std::string& key) const;
  Qt::CheckState stateOf(const std::string& key) const;
  void setChecked(const std::string& key, bool checked);

  RestoreSelection& selection() { return selection_; }
  RemoteBrowser& browser() { return *browser_; }

 private:
  const std::shared_ptr<RemoteBrowser> browser_;
  RestoreSelection selection_;  // GUI thread only

  mutable std::mutex mutex_;
  std::map<std::string, RemoteNode> nodes_;                 // guarded by mutex_
  std::map<std::string, std::vector<std::string>> listed_;  // guarded by mutex_; key → child keys
};

}  // namespace palvero::ui
