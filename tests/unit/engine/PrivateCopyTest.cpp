#include "engine/PrivateCopy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/FaultyFileSystem.h"
#include "support/TempHome.h"

namespace palvero::testing {
namespace {

namespace fs = std::filesystem;

// A mailbox of `size` bytes at home/mail/inbox, with letters spread through
// it so that a piece copied to the wrong place shows.
std::string writeMailbox(const TempHome& home, size_t size) {
  std::string content(size, 'm');
  for (size_t i = 0; i < content.size(); i += 997) content[i] = static_cast<char>('a' + i % 26);
  writeFile(home / "mail/inbox", content);
  return content;
}

TEST(PrivateCopyTest, HoldsTheBytesAndTimeOfTheFileAndGoesWithTheObject) {
  TempHome home;
  std::string source = home / "mail/inbox";
  std::string content = writeMailbox(home, 3 * 1024 * 1024 + 17);
  struct timespec times[2] = {{1700000000, 5}, {1700000000, 5}};
  ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
  fs::create_directories(home / "scratch");
  std::string copied;
  {
    PrivateCopy copy;
    std::string reason;
    ASSERT_TRUE(copy.make(source, home / "scratch", reason)) << reason;
    copied = copy.path();
    EXPECT_EQ(fs::path(copied).parent_path(), fs::path(home / "scratch"));
    EXPECT_TRUE(readFile(copied) == content);
    struct stat st {};
    ASSERT_EQ(::stat(copied.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the copy is the user's alone";
    EXPECT_EQ(st.st_mtim.tv_sec, 1700000000);
    EXPECT_EQ(copy.sourceIdentity().size, static_cast<int64_t>(content.size()));
    // Writing on goes to the file, not to the copy.
    writeFile(source, "rewritten");
    EXPECT_TRUE(readFile(copied) == content);
  }
  EXPECT_FALSE(fs::exists(copied));
}

TEST(PrivateCopyTest, RefusesWhatIsNoRegularFileOrDoesNotFit) {
  TempHome home;
  fs::create_directories(home / "scratch");
  std::string big = home / "disk.img";
  writeFile(big, std::string(1024 * 1024, 'd'));
  fs::create_symlink(big, home / "link");
  ASSERT_EQ(::mkfifo((home / "fifo").c_str(), 0600), 0);
  struct Case {
    std::string source;
    int64_t free;
    std::string reason;
  };
  for (const Case& c : {Case{home / "missing", -1, "could not be opened"}, Case{home / "link", -1, "could not be opened"},
                        Case{home / "fifo", -1, "no longer a regular file"},
                        Case{big, 1024 * 1024, "too large for a private copy"}}) {
    SCOPED_TRACE(c.source);
    PrivateCopy copy([&](const std::string&) { return c.free; });
    std::string reason;
    bool made = copy.make(c.source, home / "scratch", reason);
    if (made && copy.reflinked()) continue;  // a reflink takes no room: it fits
    EXPECT_FALSE(made);
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    EXPECT_TRUE(fs::is_empty(home / "scratch")) << "nothing is left behind";
  }
}

// A disk that fails while the copy is made: the reason is the disk's, no
// partial copy stays in the scratch folder, and a short write is no fault.
TEST(PrivateCopyTest, ADiskFaultLeavesNoPartialCopy) {
  TempHome home;
  std::string source = home / "mail/inbox";
  std::string content = writeMailbox(home, 2 * 1024 * 1024 + 5);
  std::string scratch = home / "scratch";
  fs::create_directories(scratch);
  struct Case {
    const char* label;
    FsFaultRule rule;
    const char* reason;  // nullptr: the copy is made
  };
  const FsFaultRule forever = FsFaultRule().times(FsFaultRule::kForever);
  for (const Case& c :
       {Case{"full disk", FsFaultRule(forever).on(FsOperation::kWrite).under(scratch).with(FsFault::kNoSpace),
             "No space left on device"},
        Case{"source unreadable", FsFaultRule(forever).on(FsOperation::kRead).under(source), "Input/output error"},
        Case{"close fails", FsFaultRule().on(FsOperation::kClose).under(scratch), "could not be written"},
        Case{"cannot create", FsFaultRule().on(FsOperation::kOpen).under(scratch), "could not be created"},
        Case{"short writes", FsFaultRule(forever).on(FsOperation::kWrite).with(FsFault::kShortWrite), nullptr}}) {
    SCOPED_TRACE(c.label);
    FaultyFileSystem faults;
    // The reflink fails first, so the bytes really go through the copy.
    faults.add(FsFaultRule().on(FsOperation::kWrite).under(scratch).withError(EOPNOTSUPP));
    faults.add(c.rule);
    ScopedFileSystem installed(faults);
    PrivateCopy copy([](const std::string&) { return int64_t{-1}; });
    std::string reason;
    bool made = copy.make(source, scratch, reason);
    if (c.reason == nullptr) {
      ASSERT_TRUE(made) << reason;
      EXPECT_GT(faults.injected(), 1) << "the writes were shortened";
      EXPECT_TRUE(readFile(copy.path()) == content);
      continue;
    }
    EXPECT_FALSE(made);
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    EXPECT_TRUE(fs::is_empty(scratch)) << "nothing is left behind";
  }
}

}  // namespace
}  // namespace palvero::testing
