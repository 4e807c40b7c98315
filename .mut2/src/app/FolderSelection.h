// Which folders of the backup folder are backed up, as the folder tree of
// the exclusions editor shows and changes them: the catalogue's excluded
// folders, and the folders included again below them (the innermost listed
// folder decides, as in the backup filter). A folder is checked when it is
// backed up, unchecked when not, and partly checked when something below it
// differs from it.
//
// Thread contract: a value; use one instance from one thread.
#pragma once

#include <string>
#include <vector>

namespace palvero {

class FolderChanges;

class FolderSelection {
 public:
  enum class State { kUnchecked, kPartial, kChecked };

  FolderSelection(std::vector<std::string> excluded, std::vector<std::string> included);
  // The catalogue's lists.
  static FolderSelection fromCatalogue();

  State stateOf(const std::string& path) const;
  // Checks or unchecks `path` and everything below it; the lists keep only
  // what is needed to say so. The change is recorded in `changes` (the
  // rescan of the main window) when given.
  void setChecked(const std::string& path, bool checked, FolderChanges* changes = nullptr);
  // Writes both lists to the catalogue and saves it.
  bool store() const;

  const std::vector<std::string>& excluded() const { return excluded_; }
  const std::vector<std::string>& included() const { return included_; }

  // `path` is `folder` or lies below it (whole components).
  static bool isWithin(const std::string& path, const std::string& folder);

 private:
  bool backedUp(const std::string& path) const;

  std::vector<std::string> excluded_;
  std::vector<std::string> included_;
};

}  // namespace palvero
