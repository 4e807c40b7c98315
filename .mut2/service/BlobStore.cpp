#include "BlobStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <thread>

#include "PrivateFiles.h"
#include "Random.h"

namespace palvero::service {
namespace fs = std::filesystem;

namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

[[noreturn]] void ioFailure(const std::string& what, const std::string& path) {
  throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

void writeAll(int fd, std::string_view data, const std::string& path) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      ioFailure("write", path);
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace

void syncDirectory(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0 || ::fsync(fd.get()) != 0) ioFailure("fsync", path);
}

BlobStore::BlobStore(std::string root, std::string tmpDir, bool durable)
    : root_(std::move(root)), tmpDir_(std::move(tmpDir)), durable_(durable) {
  createPrivateDirectories(root_);
  createPrivateDirectories(tmpDir_);
}

bool BlobStore::isSafeName(std::string_view name) {
  if (name.empty() || name.size() > 200 || name.front() == '.') return false;
  for (char c : name) {
    bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

std::string BlobStore::pathFor(const std::string& name) const {
  std::string fan = name.size() >= 2 ? name.substr(0, 2) : name;
  return root_ + "/" + fan + "/" + name;
}

bool BlobStore::contains(const std::string& name) const {
  struct stat st {};
  return isSafeName(name) && ::stat(pathFor(name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<int64_t> BlobStore::size(const std::string& name) const {
  struct stat st {};
  if (!isSafeName(name) || ::stat(pathFor(name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<int64_t>(st.st_size);
}

std::optional<std::string> BlobStore::read(const std::string& name) const {
  if (!isSafeName(name)) return std::nullopt;
  std::string path = pathFor(name);
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return std::nullopt;
  std::string out(static_cast<size_t>(st.st_size), '\0');
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::read(fd.get(), out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    done += static_cast<size_t>(n);
  }
  return out;
}

void BlobStore::put(const std::vector<std::pair<std::string, std::string_view>>& items) {
  struct Pending {
    std::string tmp;
    std::string target;
    int fd;
  };
  std::vector<Pending> pending;
  auto cleanup = [&pending] {
    for (auto& p : pending) {
      if (p.fd >= 0) ::close(p.fd);
      ::unlink(p.tmp.c_str());
    }
  };
  try {
    std::set<std::string> seen;
    for (const auto& [name, data] : items) {
      if (!isSafeName(name)) throw std::runtime_error("unsafe object name " + name);
      if (!seen.insert(name).second || contains(name)) continue;
      std::string tmp = tmpDir_ + "/" + randomHex(12) + ".tmp";
      Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
      if (fd.get() < 0) ioFailure("create", tmp);
      pending.push_back({tmp, pathFor(name), fd.release()});
      writeAll(pending.back().fd, data, tmp);
    }
    // Every file is written before the first flush, so the disk sees the
    // whole batch at once instead of one small flush after another.
    std::set<std::string> folders;
    bool madeFolder = false;
    for (auto& p : pending) {
      if (durable_ && ::fsync(p.fd) != 0) ioFailure("fsync", p.tmp);
      if (::close(p.fd) != 0) {
        p.fd = -1;
        ioFailure("close", p.tmp);
      }
      p.fd = -1;
      std::string folder = fs::path(p.target).parent_path().string();
      if (folders.insert(folder).second && createPrivateDirectories(folder)) madeFolder = true;
      if (::rename(p.tmp.c_str(), p.target.c_str()) != 0) ioFailure("rename", p.target);
    }
    if (durable_) {
      for (const auto& folder : folders) syncDirectory(folder);
      if (madeFolder) syncDirectory(root_);
    }
  } catch (...) {
    cleanup();
    throw;
  }
}

void BlobStore::syncAll(const std::vector<std::pair<std::string, SpoolFile*>>& items) {
  // Flushes issued together share the file system's journal commits; one
  // after another, each would wait for a commit of its own.
  if (items.size() < 2) {
    for (const auto& item : items) item.second->sync();
    return;
  }
  std::vector<std::string> failures(items.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < items.size(); ++i) {
    threads.emplace_back([&items, &failures, i] {
      try {
        items[i].second->sync();
      } catch (const std::exception& e) {
        failures[i] = e.what();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& failure : failures) {
    if (!failure.empty()) throw std::runtime_error(failure);
  }
}

void BlobStore::adopt(const std::vector<std::pair<std::string, SpoolFile*>>& items) {
  for (const auto& [name, spool] : items) {
    if (!isSafeName(name)) throw std::runtime_error("unsafe object name " + name);
  }
  std::vector<std::pair<std::string, SpoolFile*>> fresh;
  for (const auto& item : items) {
    if (!contains(item.first)) fresh.push_back(item);
  }
  if (durable_) syncAll(fresh);
  std::set<std::string> folders;
  bool madeFolder = false;
  for (const auto& [name, spool] : fresh) {
    std::string target = pathFor(name);
    std::string folder = fs::path(target).parent_path().string();
    if (folders.insert(folder).second && createPrivateDirectories(folder)) madeFolder = true;
    spool->linkTo(target);
  }
  if (durable_) {
    for (const auto& folder : folders) syncDirectory(folder);
    if (madeFolder) syncDirectory(root_);
  }
}

bool BlobStore::remove(const std::string& name) { return isSafeName(name) && ::unlink(pathFor(name).c_str()) == 0; }

}  // namespace palvero::service
