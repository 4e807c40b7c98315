#include "ui/widgets/RestoreTreeSource.h"

namespace palvero::ui {
namespace {

Qt::CheckState qtState(RestoreSelection::State state) {
  switch (state) {
    case RestoreSelection::State::kChecked:
      return Qt::Checked;
    case RestoreSelection::State::kPartial:
      return Qt::PartiallyChecked;
    default:
      return Qt::Unchecked;
  }
}

RestoreSelection::State selectionState(Qt::CheckState state) {
  switch (state) {
    case Qt::Checked:
      return RestoreSelection::State::kChecked;
    case Qt::PartiallyChecked:
      return RestoreSelection::State::kPartial;
    default:
      return RestoreSelection::State::kUnchecked;
  }
}

}  // namespace

RestoreTreeSource::RestoreTreeSource(std::shared_ptr<RemoteBrowser> browser) : browser_(std::move(browser)) {
  nodes_[rootKey()] = RemoteBrowser::account();
}

std::optional<std::vector<FolderSource::Entry>> RestoreTreeSource::children(const std::string& key) {
  std::optional<RemoteNode> parent = nodeOf(key);
  if (!parent) return std::nullopt;
  auto listed = browser_->children(*parent);
  if (!listed) return std::nullopt;
  std::lock_guard lock(mutex_);
  std::vector<Entry> out;
  std::vector<std::string> keys;
  for (const RemoteNode& node : *listed) {
    std::string childKey = node.key();
    nodes_[childKey] = node;
    keys.push_back(childKey);
    out.push_back(Entry{node.name, childKey, node.isFolderLike(), node.isDeleted});
  }
  listed_[key] = std::move(keys);
  return out;
}

std::optional<RemoteNode> RestoreTreeSource::nodeOf(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto found = nodes_.find(key);
  if (found == nodes_.end()) return std::nullopt;
  return found->second;
}

Qt::CheckState RestoreTreeSource::stateOf(const std::string& key) const {
  std::optional<RemoteNode> node = nodeOf(key);
  if (!node) return Qt::Unchecked;
  RestoreSelection::State own = selection_.stateOf(*node);
  std::vector<std::string> childKeys;
  {
    std::lock_guard lock(mutex_);
    if (auto found = listed_.find(key); found != listed_.end()) childKeys = found->second;
  }
  if (childKeys.empty() || !node->isFolderLike()) return qtState(own);
  std::vector<RestoreSelection::State> states;
  states.reserve(childKeys.size());
  for (const std::string& child : childKeys) states.push_back(selectionState(stateOf(child)));
  return qtState(RestoreSelection::derived(own, states));
}

void RestoreTreeSource::setChecked(const std::string& key, bool checked) {
  if (std::optional<RemoteNode> node = nodeOf(key)) selection_.setChecked(*node, checked);
}

}  // namespace palvero::ui
