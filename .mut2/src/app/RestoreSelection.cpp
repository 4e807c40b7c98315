#include "app/RestoreSelection.h"

#include <algorithm>

#include "engine/PathRules.h"
#include "restore/RestoreChoice.h"

namespace palvero {
namespace {

const char* kindText(RemoteNode::Kind kind) {
  switch (kind) {
    case RemoteNode::Kind::kDevice:
      return RestoreChoice::kKindDevice;
    case RemoteNode::Kind::kDrive:
      return RestoreChoice::kKindDrive;
    case RemoteNode::Kind::kFolder:
      return RestoreChoice::kKindFolder;
    default:
      return RestoreChoice::kKindFile;
  }
}

}  // namespace

int RestoreSelection::depth(const Item& item) {
  return item.kind == RemoteNode::Kind::kDevice ? -1 : static_cast<int>(item.path.size());
}

bool RestoreSelection::covers(const Item& item, const RemoteNode& node) {
  if (item.kind == RemoteNode::Kind::kDevice) return true;
  if (node.kind == RemoteNode::Kind::kDevice || node.kind == RemoteNode::Kind::kAccount) return false;
  return PathRules::isBeneath(node.path, item.path);
}

bool RestoreSelection::strictlyBelow(const Item& item, const RemoteNode& node) {
  if (node.kind == RemoteNode::Kind::kAccount) return true;
  if (node.kind == RemoteNode::Kind::kDevice) return item.kind != RemoteNode::Kind::kDevice;
  if (item.kind == RemoteNode::Kind::kDevice || item.path == node.path) return false;
  return PathRules::isBeneath(item.path, node.path);
}

const RestoreSelection::Item* RestoreSelection::decidingItem(const RemoteNode& node) const {
  const Item* best = nullptr;
  for (const Item& item : items_) {
    if (covers(item, node) && (!best || depth(item) > depth(*best))) best = &item;
  }
  return best;
}

RestoreSelection::State RestoreSelection::stateOf(const RemoteNode& node) const {
  if (items_.empty()) return State::kUnchecked;
  if (node.kind != RemoteNode::Kind::kAccount && node.deviceId != deviceId_) return State::kUnchecked;
  const Item* deciding = node.kind == RemoteNode::Kind::kAccount ? nullptr : decidingItem(node);
  bool checked = deciding && deciding->chosen;
  for (const Item& item : items_) {
    if (strictlyBelow(item, node) && item.chosen != checked) return State::kPartial;
  }
  return checked ? State::kChecked : State::kUnchecked;
}

RestoreSelection::State RestoreSelection::derived(State own, const std::vector<State>& children) {
  if (children.empty()) return own;
  bool all = std::all_of(children.begin(), children.end(), [](State s) { return s == State::kChecked; });
  if (all) return State::kChecked;
  bool none = std::all_of(children.begin(), children.end(), [](State s) { return s == State::kUnchecked; });
  return none ? State::kUnchecked : State::kPartial;
}

bool RestoreSelection::setChecked(const RemoteNode& node, bool checked) {
  if (node.kind == RemoteNode::Kind::kAccount) {
    // The whole account cannot be one restore; unchecking it clears all.
    if (!checked) clear();
    return false;
  }
  bool dropped = false;
  if (!items_.empty() && node.deviceId != deviceId_) {
    if (!checked) return false;
    items_.clear();
    dropped = true;
  }
  deviceId_ = node.deviceId;
  Item self{node.kind, node.kind == RemoteNode::Kind::kDevice ? std::string() : node.path, checked, node.size,
            node.versions};
  std::erase_if(items_, [&](const Item& item) {
    bool same = item.kind == RemoteNode::Kind::kDevice
                    ? node.kind == RemoteNode::Kind::kDevice
                    : item.path == self.path && node.kind != RemoteNode::Kind::kDevice;
    return same || strictlyBelow(item, node);
  });
  const Item* above = decidingItem(node);
  bool inherited = above && above->chosen;
  if (inherited != checked) items_.push_back(self);
  if (items_.empty()) deviceId_.clear();
  // Items taken out with nothing chosen above them say nothing.
  std::erase_if(items_, [this](const Item& item) {
    if (item.chosen) return false;
    for (const Item& other : items_) {
      if (other.chosen && depth(other) < depth(item) &&
          (other.kind == RemoteNode::Kind::kDevice || PathRules::isBeneath(item.path, other.path))) {
        return false;
      }
    }
    return true;
  });
  if (items_.empty()) deviceId_.clear();
  return dropped;
}

void RestoreSelection::clear() {
  items_.clear();
  deviceId_.clear();
}

bool RestoreSelection::empty() const {
  return std::none_of(items_.begin(), items_.end(), [](const Item& item) { return item.chosen; });
}

Value RestoreSelection::map(bool chosen) const {
  Value out = Value::object();
  for (const Item& item : items_) {
    if (item.chosen == chosen) out[item.path] = Value::array({kindText(item.kind), deviceId_});
  }
  return out;
}

Value RestoreSelection::filesAndFoldersForRestore() const { return map(true); }

Value RestoreSelection::filesAndFoldersRemovedFromRestore() const { return map(false); }

std::optional<BackupedFile> RestoreSelection::singleFile() const {
  if (items_.size() != 1 || !items_[0].chosen || items_[0].kind != RemoteNode::Kind::kFile) return std::nullopt;
  BackupedFile file;
  file.name = items_[0].path;
  file.size = items_[0].size;
  file.versions = items_[0].versions;
  file.deviceId = deviceId_;
  return file;
}

}  // namespace palvero
