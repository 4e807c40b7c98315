// Walks a folder tree without following symbolic links, one open descriptor
// at a time (sub-folders are queued by path, not kept open), so deep trees
// cannot exhaust descriptors and a link cannot lead the walk in a loop or out
// of the tree. Entries arrive folder by folder, depth first, in the order the
// file system returns them or, on request, sorted by name (byte order), which
// makes the paths of a whole walk come out nearly sorted.
//
// A folder that cannot be opened or read is reported to the error callback
// and skipped; the rest of the tree is still walked. Entries that vanish
// while the walk runs are skipped without a report.
//
// Thread contract: a walker object is used by one thread; separate walks may
// run at once.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace palvero {

class DirectoryWalker {
 public:
  enum class Kind { kRegular, kDirectory, kSymlink, kOther };
  enum class Action { kContinue, kSkipDescendants, kStop };
  enum class Order { kFileSystem, kByName };

  struct Entry {
    std::string_view path;  // full path of the entry (bytes as the file system gave them)
    std::string_view name;  // last component
    Kind kind;
    int parentFd;  // open descriptor of the parent folder, valid during the callback (for fstatat)
    int depth;     // 1 for entries directly in the root
  };

  using EntryCallback = std::function<Action(const Entry&)>;
  // `error` is the errno of the failed open or read.
  using ErrorCallback = std::function<void(const std::string& folder, int error)>;

  // Walks everything below `root` (the root itself is not reported). Returns
  // false when the root itself is not a folder that can be opened (errno set);
  // true otherwise, also when the walk was stopped or some folders were
  // skipped.
  static bool walk(const std::string& root, const EntryCallback& onEntry, const ErrorCallback& onError,
                   Order order = Order::kFileSystem);
};

}  // namespace palvero
