#include "app/FolderSelection.h"

#include <algorithm>

#include "selection/CommonExtensions.h"
#include "selection/FolderChanges.h"

namespace palvero {
namespace {

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The longest entry of `list` that `path` lies within; 0 when none.
size_t deepestMatch(const std::vector<std::string>& list, const std::string& path) {
  size_t best = 0;
  for (const auto& folder : list) {
    if (FolderSelection::isWithin(path, folder)) best = std::max(best, folder.size());
  }
  return best;
}

}  // namespace

FolderSelection::FolderSelection(std::vector<std::string> excluded, std::vector<std::string> included) {
  for (auto& folder : excluded) excluded_.push_back(withoutTrailingSlash(std::move(folder)));
  for (auto& folder : included) included_.push_back(withoutTrailingSlash(std::move(folder)));
}

FolderSelection FolderSelection::fromCatalogue() {
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  return FolderSelection(extensions.foldersToBeExcludedFromBackup(),
                         extensions.foldersToBeIncludedToBackupSeparately());
}

bool FolderSelection::isWithin(const std::string& path, const std::string& folder) {
  std::string base = withoutTrailingSlash(folder);
  if (base.empty()) return false;
  if (path.compare(0, base.size(), base) != 0) return false;
  return path.size() == base.size() || base == "/" || path[base.size()] == '/';
}

bool FolderSelection::backedUp(const std::string& path) const {
  size_t out = deepestMatch(excluded_, path);
  return out == 0 || deepestMatch(included_, path) >= out;
}

FolderSelection::State FolderSelection::stateOf(const std::string& rawPath) const {
  std::string path = withoutTrailingSlash(rawPath);
  bool own = backedUp(path);
  // Something listed strictly below that turns the other way.
  for (const auto& folder : own ? excluded_ : included_) {
    if (folder != path && isWithin(folder, path) && backedUp(folder) != own) return State::kPartial;
  }
  return own ? State::kChecked : State::kUnchecked;
}

void FolderSelection::setChecked(const std::string& rawPath, bool checked, FolderChanges* changes) {
  std::string path = withoutTrailingSlash(rawPath);
  auto below = [&](const std::string& folder) { return isWithin(folder, path); };
  std::erase_if(excluded_, below);
  std::erase_if(included_, below);
  if (backedUp(path) != checked) (checked ? included_ : excluded_).push_back(path);
  if (changes) {
    if (checked) {
      changes->addAddedFolder(path);
    } else {
      changes->addRemovedFolder(path);
    }
    changes->setExclusionsChanged(true);
  }
}

bool FolderSelection::store() const {
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  extensions.setFoldersToBeExcludedFromBackup(excluded_);
  extensions.setFoldersToBeIncludedToBackupSeparately(included_);
  return extensions.saveExtensions();
}

}  // namespace palvero
