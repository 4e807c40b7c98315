#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/format/util/Functions.h"
#include "platform/DirectoryWalker.h"

namespace palvero {

std::vector<FilePart> Functions::getListOfFilesFromDirectory(const std::string& directory, const std::string&) {
  std::vector<FilePart> files;
  scanPath(directory, files, directory);
  return files;
}

void Functions::scanPath(const std::string& path, std::vector<FilePart>& Array, const std::string& Fullpath) {
  std::string base = Fullpath;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  const std::string prefix = base == "/" ? base : base + "/";

  // Entries of one folder arrive together: its writability is asked once.
  std::string checkedFolder;
  bool checked = false;
  bool deletable = false;
  DirectoryWalker::walk(
      path,
      [&](const DirectoryWalker::Entry& entry) {
        std::string_view folder = entry.path.substr(0, entry.path.size() - entry.name.size());
        if (!checked || folder != checkedFolder) {
          checked = true;
          checkedFolder.assign(folder);
          deletable = faccessat(entry.parentFd, ".", W_OK, AT_EACCESS) == 0;
        }
        if (!deletable) return DirectoryWalker::Action::kSkipDescendants;
        if (entry.kind != DirectoryWalker::Kind::kRegular) return DirectoryWalker::Action::kContinue;
        struct stat st {};
        if (fstatat(entry.parentFd, std::string(entry.name).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
          return DirectoryWalker::Action::kContinue;  // gone meanwhile
        }
        std::string relative(entry.path);
        if (relative.compare(0, prefix.size(), prefix) == 0) relative.erase(0, prefix.size());
        Array.emplace_back(std::move(relative), static_cast<int64_t>(st.st_size));
        return DirectoryWalker::Action::kContinue;
      },
      [](const std::string&, int) {});
}

}  // namespace palvero
