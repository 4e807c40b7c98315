#include "platform/DirectoryWalker.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/UniqueFd.h"

namespace palvero {
namespace {

DirectoryWalker::Kind kindOf(int dirFd, const char* name, unsigned char type) {
  switch (type) {
    case DT_REG:
      return DirectoryWalker::Kind::kRegular;
    case DT_DIR:
      return DirectoryWalker::Kind::kDirectory;
    case DT_LNK:
      return DirectoryWalker::Kind::kSymlink;
    case DT_UNKNOWN:
      break;
    default:
      return DirectoryWalker::Kind::kOther;
  }
  struct stat st {};
  if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return DirectoryWalker::Kind::kOther;
  if (S_ISREG(st.st_mode)) return DirectoryWalker::Kind::kRegular;
  if (S_ISDIR(st.st_mode)) return DirectoryWalker::Kind::kDirectory;
  if (S_ISLNK(st.st_mode)) return DirectoryWalker::Kind::kSymlink;
  return DirectoryWalker::Kind::kOther;
}

// Owns a DIR stream (which owns its descriptor).
class DirStream {
 public:
  explicit DirStream(DIR* dir) : dir_(dir) {}
  ~DirStream() {
    if (dir_) closedir(dir_);
  }
  DirStream(const DirStream&) = delete;
  DirStream& operator=(const DirStream&) = delete;
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

bool vanished(int error) { return error == ENOENT || error == ENOTDIR || error == ELOOP; }

struct Pending {
  std::string path;
  int depth;
};

struct Named {
  std::string name;
  unsigned char type;
};

}  // namespace

bool DirectoryWalker::walk(const std::string& root, const EntryCallback& onEntry, const ErrorCallback& onError,
                           Order order) {
  {
    UniqueFd probe(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!probe) return false;
  }
  std::string base = root;
  while (base.size() > 1 && base.back() == '/') base.pop_back();

  std::vector<Pending> stack{{base, 0}};
  std::vector<Pending> children;
  std::vector<Named> sorted;
  std::string path;
  while (!stack.empty()) {
    Pending folder = std::move(stack.back());
    stack.pop_back();

    int fd = open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      int error = errno;
      if (!vanished(error) || folder.depth == 0) onError(folder.path, error);
      continue;
    }
    DirStream dir(fdopendir(fd));
    if (!dir.get()) {
      int error = errno;
      close(fd);
      onError(folder.path, error);
      continue;
    }
    const std::string prefix = folder.path == "/" ? std::string("/") : folder.path + "/";
    children.clear();
    bool stop = false;
    // One entry: false stops the walk.
    auto visit = [&](std::string_view name, unsigned char type) {
      path.assign(prefix).append(name);
      Kind kind = kindOf(dirfd(dir.get()), path.c_str() + prefix.size(), type);
      std::string_view entryName = std::string_view(path).substr(prefix.size());
      Action action = onEntry(Entry{path, entryName, kind, dirfd(dir.get()), folder.depth + 1});
      if (action == Action::kStop) return false;
      if (kind == Kind::kDirectory && action == Action::kContinue) children.push_back({path, folder.depth + 1});
      return true;
    };
    sorted.clear();
    for (;;) {
      errno = 0;
      dirent* entry = readdir(dir.get());
      if (!entry) {
        if (errno != 0) onError(folder.path, errno);
        break;
      }
      std::string_view name(entry->d_name);
      if (name == "." || name == "..") continue;
      if (order == Order::kByName) {
        sorted.push_back({std::string(name), entry->d_type});
      } else if (!visit(name, entry->d_type)) {
        stop = true;
        break;
      }
    }
    if (order == Order::kByName) {
      std::sort(sorted.begin(), sorted.end(), [](const Named& a, const Named& b) { return a.name < b.name; });
      for (const auto& entry : sorted) {
        if (!visit(entry.name, entry.type)) {
          stop = true;
          break;
        }
      }
    }
    if (stop) break;
    // Reverse, so that the first child visited is walked first.
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(std::move(*it));
  }
  return true;
}

}  // namespace palvero
