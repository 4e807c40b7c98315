#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "platform/DirectoryWalker.h"
#include "support/TempHome.h"
#include "support/Unprivileged.h"

namespace palvero {
namespace {

namespace fs = std::filesystem;
using testing::writeFile;
using Kind = DirectoryWalker::Kind;
using Action = DirectoryWalker::Action;

struct WalkResult {
  std::map<std::string, Kind> entries;
  std::vector<std::pair<std::string, int>> errors;
};

WalkResult walkAll(const std::string& root) {
  WalkResult result;
  bool ok = DirectoryWalker::walk(
      root,
      [&](const DirectoryWalker::Entry& entry) {
        EXPECT_TRUE(result.entries.emplace(std::string(entry.path), entry.kind).second) << entry.path;
        return Action::kContinue;
      },
      [&](const std::string& folder, int error) { result.errors.emplace_back(folder, error); });
  EXPECT_TRUE(ok);
  return result;
}

class DirectoryWalkerTest : public ::testing::Test {
 protected:
  testing::TempHome home_;
  std::string root_ = home_ / "tree";
};

TEST_F(DirectoryWalkerTest, LinksAreReportedButNeverFollowed) {
  writeFile(root_ + "/a/file.txt", "x");
  fs::create_directory_symlink(root_, root_ + "/a/loop");     // back to the root: a loop
  fs::create_directory_symlink("/etc", root_ + "/a/escape");  // out of the tree
  fs::create_symlink(root_ + "/a/file.txt", root_ + "/link.txt");
  ASSERT_EQ(mkfifo((root_ + "/pipe").c_str(), 0644), 0);

  WalkResult result = walkAll(root_);
  EXPECT_TRUE(result.errors.empty());
  std::map<std::string, Kind> expected = {
      {root_ + "/a", Kind::kDirectory},      {root_ + "/a/file.txt", Kind::kRegular},
      {root_ + "/a/loop", Kind::kSymlink},   {root_ + "/a/escape", Kind::kSymlink},
      {root_ + "/link.txt", Kind::kSymlink}, {root_ + "/pipe", Kind::kOther}};
  EXPECT_EQ(result.entries, expected);
}

TEST_F(DirectoryWalkerTest, RootThatIsALinkOrMissingIsRefused) {
  fs::create_directories(root_);
  fs::create_directory_symlink(root_, home_ / "link");
  for (const std::string& root : {home_ / "link", home_ / "missing", home_ / "tree/../nothing"}) {
    SCOPED_TRACE(root);
    bool called = false;
    EXPECT_FALSE(DirectoryWalker::walk(
        root, [&](const DirectoryWalker::Entry&) { return called = true, Action::kContinue; },
        [&](const std::string&, int) { called = true; }));
    EXPECT_FALSE(called);
  }
}

TEST_F(DirectoryWalkerTest, SkipAndStopAreHonoured) {
  for (int i = 0; i < 3; ++i) writeFile(root_ + "/skip/f" + std::to_string(i), "x");
  writeFile(root_ + "/keep/f", "x");
  std::set<std::string> seen;
  DirectoryWalker::walk(
      root_,
      [&](const DirectoryWalker::Entry& entry) {
        seen.insert(std::string(entry.path));
        return entry.name == "skip" ? Action::kSkipDescendants : Action::kContinue;
      },
      [](const std::string&, int) {});
  EXPECT_EQ(seen, (std::set<std::string>{root_ + "/skip", root_ + "/keep", root_ + "/keep/f"}));

  int visited = 0;
  DirectoryWalker::walk(
      root_, [&](const DirectoryWalker::Entry&) { return ++visited == 2 ? Action::kStop : Action::kContinue; },
      [](const std::string&, int) {});
  EXPECT_EQ(visited, 2);
}

TEST_F(DirectoryWalkerTest, DeepTreeDoesNotRunOutOfDescriptors) {
  // Deeper than the usual 1024 descriptors: only one folder is open at a time.
  std::string path = root_;
  fs::create_directories(path);
  for (int depth = 0; depth < 1100; ++depth) {
    path += "/d";
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << depth;
  }
  writeFile(path + "/leaf.txt", "x");
  int deepest = 0;
  bool sawLeaf = false;
  DirectoryWalker::walk(
      root_,
      [&](const DirectoryWalker::Entry& entry) {
        deepest = std::max(deepest, entry.depth);
        sawLeaf = sawLeaf || entry.name == "leaf.txt";
        return Action::kContinue;
      },
      [](const std::string& folder, int error) { ADD_FAILURE() << folder << ": " << error; });
  EXPECT_TRUE(sawLeaf);
  EXPECT_EQ(deepest, 1101);
}

void expectUnreadableFolderSkipped(const std::string& root) {
  WalkResult result = walkAll(root);
  ASSERT_EQ(result.errors.size(), 1u);
  EXPECT_EQ(result.errors[0].first, root + "/b");
  EXPECT_EQ(result.errors[0].second, EACCES);
  for (const char* name : {"/a/1.txt", "/c/1.txt", "/d/e/1.txt"})
    EXPECT_TRUE(result.entries.count(root + name)) << name;
  EXPECT_TRUE(result.entries.count(root + "/b"));
  EXPECT_FALSE(result.entries.count(root + "/b/1.txt"));
}

// An unreadable folder is reported once and skipped; the folders after it are
// still walked.
TEST_F(DirectoryWalkerTest, UnreadableFolderIsSkippedAndTheWalkGoesOn) {
  if (testing::isUnprivilegedChild()) return expectUnreadableFolderSkipped(std::getenv("PALVERO_TEST_TREE"));
  for (const char* folder : {"a", "b", "c", "d/e"}) writeFile(root_ + "/" + folder + "/1.txt", "x");
  ASSERT_EQ(chmod((root_ + "/b").c_str(), 0), 0);
  if (!testing::needsPrivilegeDrop()) return expectUnreadableFolderSkipped(root_);
  ASSERT_EQ(chmod(home_.path().c_str(), 0755), 0);
  EXPECT_EQ(testing::rerunCurrentTestAsNobody({{"PALVERO_TEST_TREE", root_}}), 0);
}

}  // namespace
}  // namespace palvero
