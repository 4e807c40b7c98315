// A restore into a file system that really fills up (a small tmpfs): the
// file being written when the disk runs out fails with the system's reason,
// nothing of it stays under its name or as a temporary file, and the run
// goes on with the other files.
#include <fcntl.h>
#include <unistd.h>

#include <climits>

#include "integration/restore/RestoreFixture.h"
#include "platform/FaultyFileSystem.h"
#include "platform/PosixFileSystem.h"
#include "support/SmallDisk.h"

namespace palvero::testing {
namespace {

// The real file system, except that another program fills the disk up to
// `spare` free bytes right after the restore has made its temporary file in
// a folder ending with `trigger` (the space check is behind it by then).
class FillingFileSystem : public PosixFileSystem {
 public:
  FillingFileSystem(const SmallDisk& disk, std::string trigger, long spare)
      : disk_(disk), trigger_(std::move(trigger)), spare_(spare) {}

  int openAt(int folder, const std::string& name, int flags, unsigned mode) override {
    int fd = PosixFileSystem::openAt(folder, name, flags, mode);
    if (fd >= 0 && (flags & O_CREAT) && !filled_ && endsWith(folderPath(folder), trigger_)) fill();
    return fd;
  }

  bool filled() const { return filled_; }

 private:
  static std::string folderPath(int folder) {
    char path[PATH_MAX];
    ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(folder)).c_str(), path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
  }
  static bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
  }
  void fill() {
    filled_ = true;
    int fd = ::open((disk_.folder() + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const std::string zeros(4096, '\0');
    while (fd >= 0 && disk_.freeBytes() > spare_ && ::write(fd, zeros.data(), zeros.size()) > 0) {
    }
    if (fd >= 0) ::close(fd);
  }

  const SmallDisk& disk_;
  const std::string trigger_;
  const long spare_;
  bool filled_ = false;
};

class FullDiskRestoreTest : public RestoreFixture {};

TEST_F(FullDiskRestoreTest, TheFileThatMeetsAFullDiskFailsCleanlyAndTheOthersComeBack) {
  SmallDisk disk(640 * 1024);
  if (disk.skipped()) GTEST_SKIP() << SmallDisk::kSkipReason;
  if (disk.parent()) return;
  std::map<std::string, std::string> tree = {
      {"docs/a.txt", textContent(3000, 1)},     {"docs/sub/b.bin", randomContent(300000, 2)},
      {"docs/tiny.txt", "tiny"},                {"pics/c.bin", randomContent(40000, 3)},
      {"docs/empty.txt", ""},                   {"docs/sub/deeper/d.txt", textContent(257, 4)},
  };
  for (const auto& [relative, content] : tree) {
    writeFile(home_ / relative, content);
    ASSERT_TRUE(backup(home_ / relative)) << relative;
  }
  const std::string destination = disk.folder() + "/restored";
  RestoreChoice choice;
  choice.restoreAllData = true;
  choice.restoreToOriginalPath = false;
  choice.restoreDestinationPath = destination;

  FillingFileSystem filling(disk, "/docs/sub", 96 * 1024);
  bool ended;
  {
    ScopedFileSystem installed(filling);
    ended = restoreWith(choice, 1);
  }
  ASSERT_TRUE(ended);
  ASSERT_TRUE(filling.filled());
  ASSERT_EQ(failedPaths(), std::vector<std::string>{home_ / "docs/sub/b.bin"});
  const std::string reason = manager_->failedFiles()[0].error;
  EXPECT_NE(reason.find("No space left on device"), std::string::npos) << reason;
  EXPECT_TRUE(logContains("No space left on device"));
  EXPECT_FALSE(std::filesystem::exists(destination + "/docs/sub/b.bin")) << "no partial file under its name";
  EXPECT_TRUE(leftovers(destination + "/docs/sub").empty());
  tree.erase("docs/sub/b.bin");
  std::vector<std::string> expected;
  for (const auto& [relative, content] : tree) {
    expected.push_back(relative);
    EXPECT_EQ(readFile(destination + "/" + relative), content) << relative;
  }
  EXPECT_EQ(filesBelow(destination), expected);

  // With room again, the failed file comes back whole.
  std::filesystem::remove(disk.folder() + "/filler");
  ASSERT_TRUE(restore(home_ / "docs/sub/b.bin", destination + "/docs/sub/b.bin"));
  EXPECT_EQ(readFile(destination + "/docs/sub/b.bin"), randomContent(300000, 2));
}

}  // namespace
}  // namespace palvero::testing
