#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/SourceFile.h"
#include "support/TempHome.h"

namespace palvero::testing {
namespace {

class SourceFileTest : public ::testing::Test {
 protected:
  SourceFile::Identity identityOf(const std::string& path) {
    SourceFile::Identity identity;
    EXPECT_EQ(SourceFile::inspect(path, identity), SourceFile::Kind::kRegular);
    return identity;
  }
  TempHome home_;
};

TEST_F(SourceFileTest, KindsOfThingsAtAPath) {
  writeFile(home_ / "file", "abc");
  std::filesystem::create_symlink(home_ / "file", home_ / "link");
  ASSERT_EQ(::mkfifo((home_ / "fifo").c_str(), 0600), 0);
  SourceFile::Identity identity;
  EXPECT_EQ(SourceFile::inspect(home_ / "file", identity), SourceFile::Kind::kRegular);
  EXPECT_EQ(identity.size, 3);
  EXPECT_EQ(SourceFile::inspect(home_ / "link", identity), SourceFile::Kind::kNotRegular);
  EXPECT_EQ(SourceFile::inspect(home_ / "fifo", identity), SourceFile::Kind::kNotRegular);
  EXPECT_EQ(SourceFile::inspect(home_.path(), identity), SourceFile::Kind::kNotRegular);
  EXPECT_EQ(SourceFile::inspect(home_ / "absent", identity), SourceFile::Kind::kMissing);
  EXPECT_EQ(SourceFile::inspect(home_ / "file/below", identity), SourceFile::Kind::kMissing);
}

TEST_F(SourceFileTest, AnUnchangedFileOpensAndReadsExactRanges) {
  writeFile(home_ / "file", "0123456789");
  SourceFile::Identity identity = identityOf(home_ / "file");
  SourceFile source;
  std::string reason;
  ASSERT_TRUE(source.open(home_ / "file", identity, reason)) << reason;
  Bytes out;
  ASSERT_TRUE(source.readExactly(3, 4, out, reason));
  EXPECT_EQ(stringFromBytes(out), "3456");
  EXPECT_FALSE(source.readExactly(8, 4, out, reason));
  EXPECT_NE(reason.find("only 2 of 4 bytes"), std::string::npos);
}

TEST_F(SourceFileTest, AnyChangeAfterTheIdentityWasTakenRefusesTheOpen) {
  struct Change {
    const char* label;
    std::function<void(const std::string&)> apply;
  };
  std::vector<Change> changes = {
      {"appended", [](const std::string& p) { std::ofstream(p, std::ios::app) << "more"; }},
      {"truncated", [](const std::string& p) { std::filesystem::resize_file(p, 2); }},
      {"replaced",
       [](const std::string& p) {
         writeFile(p + ".new", "0123456789");
         std::filesystem::rename(p + ".new", p);
       }},
      {"same size rewritten", [](const std::string& p) { writeFile(p, "9876543210"); }},
      {"removed", [](const std::string& p) { std::filesystem::remove(p); }},
      {"made a link",
       [this](const std::string& p) {
         writeFile(home_ / "other", "0123456789");
         std::filesystem::remove(p);
         std::filesystem::create_symlink(home_ / "other", p);
       }},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.label);
    std::string path = home_ / "changing";
    std::filesystem::remove(path);
    writeFile(path, "0123456789");
    SourceFile::Identity identity = identityOf(path);
    // Coarse file-system clocks could leave a quick rewrite with the same
    // times: wait until the clock has moved on.
    for (bool ticked = false; !ticked;) {
      writeFile(home_ / "probe", "x");
      ticked = identityOf(home_ / "probe").statusChanged.tv_nsec != identity.statusChanged.tv_nsec ||
               identityOf(home_ / "probe").statusChanged.tv_sec != identity.statusChanged.tv_sec;
    }
    change.apply(path);
    SourceFile source;
    std::string reason;
    EXPECT_FALSE(source.open(path, identity, reason));
    EXPECT_FALSE(reason.empty());
  }
}

// A file replaced within one tick of a coarse clock can match in size and
// times: any one field apart makes another file.
TEST_F(SourceFileTest, IdentitiesApartInAnyOneFieldAreDifferentFiles) {
  writeFile(home_ / "file", "0123456789");
  const SourceFile::Identity taken = identityOf(home_ / "file");
  EXPECT_TRUE(taken.sameAs(identityOf(home_ / "file")));
  std::vector<std::pair<const char*, std::function<void(SourceFile::Identity&)>>> changes = {
      {"device", [](auto& i) { ++i.device; }},
      {"inode", [](auto& i) { ++i.inode; }},
      {"size", [](auto& i) { ++i.size; }},
      {"modified", [](auto& i) { i.modified.tv_nsec ^= 1; }},
      {"status changed", [](auto& i) { i.statusChanged.tv_nsec ^= 1; }},
  };
  for (const auto& [field, change] : changes) {
    SourceFile::Identity other = taken;
    change(other);
    EXPECT_FALSE(other.sameAs(taken)) << field;
  }
}

TEST_F(SourceFileTest, TheChangeTimeIsTheLaterOfModificationAndCreation) {
  writeFile(home_ / "file", "x");
  SourceFile::Identity identity = identityOf(home_ / "file");
  struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (home_ / "file").c_str(), old, 0), 0);
  identity = identityOf(home_ / "file");
  double changed = identity.changeTime().timeIntervalSince1970();
  if (identity.created) {
    EXPECT_GT(changed, 1000000000.0 + 3600);
  } else {
    EXPECT_EQ(changed, 1000000000.0);
  }
  struct timespec future[2] = {{4000000000, 500000000}, {4000000000, 500000000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (home_ / "file").c_str(), future, 0), 0);
  EXPECT_EQ(identityOf(home_ / "file").changeTime().timeIntervalSince1970(), 4000000000.5);
}

}  // namespace
}  // namespace palvero::testing
