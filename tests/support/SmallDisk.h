// A real, small file system for tests of a full disk: the current test case
// runs again in a child process with a private mount namespace in which a
// tmpfs of a given size is mounted on a folder. Mounting needs privileges:
// the child is started through `unshare --user --map-root-user --mount` (an
// unprivileged user namespace), and as root through `unshare --mount` when
// that is refused. The mount is gone when the child ends.
//
//   TEST_F(X, Y) {
//     SmallDisk disk(256 * 1024);
//     if (disk.skipped()) GTEST_SKIP() << SmallDisk::kSkipReason;
//     if (disk.parent()) return;  // the child ran the case
//     ... disk.folder() is the small file system ...
//   }
#pragma once

#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

namespace palvero::testing {

class SmallDisk {
 public:
  static constexpr char kFolderVariable[] = "PALVERO_TEST_SMALL_DISK";
  // The child's exit status when the tmpfs could not be mounted.
  static constexpr int kCannotMount = 77;

  explicit SmallDisk(long bytes) {
    if (const char* folder = std::getenv(kFolderVariable)) {
      folder_ = folder;
      struct statvfs st {};
      if (::statvfs(folder_.c_str(), &st) != 0 || st.f_blocks * st.f_frsize > static_cast<unsigned long>(2 * bytes)) {
        ADD_FAILURE() << folder_ << " is not the small file system";
        parent_ = true;
      }
      return;
    }
    parent_ = true;
    char pattern[] = "/tmp/palvero-small-disk-XXXXXX";
    if (!::mkdtemp(pattern)) {
      ADD_FAILURE() << "cannot make a mount point";
      return;
    }
    folder_ = pattern;
    const std::string size = "size=" + std::to_string((bytes + 1023) / 1024) + "k";
    int status = rerun({"unshare", "--user", "--map-root-user", "--mount"}, size);
    if (status == kCannotMount && ::geteuid() == 0) status = rerun({"unshare", "--mount"}, size);
    ::rmdir(folder_.c_str());
    skipped_ = status == kCannotMount;
    if (!skipped_) {
      EXPECT_EQ(status, 0) << "the case failed on the small file system (its output is above)";
    }
  }

  // True when no small file system could be mounted: the case skips then.
  bool skipped() const { return skipped_; }
  static constexpr char kSkipReason[] =
      "no small file system: a tmpfs can be mounted neither in an unprivileged user namespace "
      "(unshare --user --map-root-user --mount) nor as root";

  // True in the process that started the child: the case is over there.
  bool parent() const { return parent_; }
  // The mount point of the small file system (in the child).
  const std::string& folder() const { return folder_; }

  // Free bytes on the small file system.
  long freeBytes() const {
    struct statvfs st {};
    if (::statvfs(folder_.c_str(), &st) != 0) return -1;
    return static_cast<long>(st.f_bavail * st.f_frsize);
  }

 private:
  // Runs this test case in `unshare` with the tmpfs mounted; the child's exit
  // status, kCannotMount when it could not start or mount.
  int rerun(std::vector<std::string> command, const std::string& size) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
    char exe[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length <= 0) return kCannotMount;
    exe[length] = '\0';
    // The shell mounts, then becomes the test binary.
    const std::string script = "mount -t tmpfs -o " + size + ",mode=0700 palvero-test \"$0\" || exit " +
                               std::to_string(kCannotMount) + "; shift; exec \"$@\"";
    for (const char* part : {"sh", "-c"}) command.push_back(part);
    command.push_back(script);
    command.push_back(folder_);
    command.push_back("--");
    command.push_back(exe);
    command.push_back(filter);
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) return kCannotMount;
    if (pid == 0) {
      ::setenv(kFolderVariable, folder_.c_str(), 1);
      std::vector<char*> argv;
      for (auto& part : command) argv.push_back(part.data());
      argv.push_back(nullptr);
      ::execvp(argv[0], argv.data());
      ::_exit(kCannotMount);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return kCannotMount;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  std::string folder_;
  bool parent_ = false;
  bool skipped_ = false;
};

}  // namespace palvero::testing
