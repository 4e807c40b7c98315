#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "engine/format/util/Functions.h"
#include "support/TempHome.h"
#include "support/Unprivileged.h"

namespace palvero {
namespace {

namespace fs = std::filesystem;
using testing::writeFile;

std::vector<std::pair<std::string, int64_t>> sorted(const std::vector<FilePart>& parts) {
  std::vector<std::pair<std::string, int64_t>> out;
  for (const auto& part : parts) out.emplace_back(part.PartName, part.Length);
  std::sort(out.begin(), out.end());
  return out;
}

class FunctionsFolderTest : public ::testing::Test {
 protected:
  testing::TempHome home_;
  std::string root_ = home_ / "scratch";
};

TEST_F(FunctionsFolderTest, ListsEveryFileRelativeToTheFolder) {
  writeFile(root_ + "/word/document.xml", "12345");
  writeFile(root_ + "/word/media/image1.png", "1");
  writeFile(root_ + "/[Content_Types].xml", "");
  writeFile(root_ + "/caf\xE9.txt", "abc");
  fs::create_directories(root_ + "/empty");
  fs::create_symlink(root_ + "/word/document.xml", root_ + "/link.xml");
  fs::create_directory_symlink(root_, root_ + "/word/loop");
  ASSERT_EQ(mkfifo((root_ + "/pipe").c_str(), 0644), 0);

  auto parts = Functions::getListOfFilesFromDirectory(root_ + "/", "*");
  EXPECT_EQ(
      sorted(parts),
      (std::vector<std::pair<std::string, int64_t>>{
          {"[Content_Types].xml", 0}, {"caf\xE9.txt", 3}, {"word/document.xml", 5}, {"word/media/image1.png", 1}}));
  std::vector<FilePart> more;
  Functions::scanPath(root_ + "/word/media", more, root_);
  ASSERT_EQ(more.size(), 1u);
  EXPECT_EQ(more[0].PartName, "word/media/image1.png");
  EXPECT_TRUE(Functions::getListOfFilesFromDirectory(home_ / "missing", "*").empty());
}

void expectReadOnlyFolderSkipped(const std::string& root) {
  auto parts = Functions::getListOfFilesFromDirectory(root, "*");
  EXPECT_EQ(sorted(parts), (std::vector<std::pair<std::string, int64_t>>{{"open/a.txt", 1}, {"z.txt", 1}}));
}

// Entries the user may not delete (their folder is read-only) are not visited.
TEST_F(FunctionsFolderTest, ReadOnlyFolderIsSkipped) {
  if (testing::isUnprivilegedChild()) return expectReadOnlyFolderSkipped(std::getenv("PALVERO_TEST_TREE"));
  writeFile(root_ + "/open/a.txt", "x");
  writeFile(root_ + "/locked/b.txt", "x");
  writeFile(root_ + "/locked/inner/c.txt", "x");
  writeFile(root_ + "/z.txt", "x");
  if (testing::needsPrivilegeDrop()) {
    // Owned by nobody, except the locked folder, which stays root's.
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
      if (entry.path().string().find("/locked") == std::string::npos) {
        ASSERT_EQ(lchown(entry.path().c_str(), 65534, 65534), 0);
      }
    }
    ASSERT_EQ(chown(root_.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(home_.path().c_str(), 0755), 0);
    EXPECT_EQ(testing::rerunCurrentTestAsNobody({{"PALVERO_TEST_TREE", root_}}), 0);
  } else {
    ASSERT_EQ(chmod((root_ + "/locked").c_str(), 0555), 0);
    expectReadOnlyFolderSkipped(root_);
  }
}

}  // namespace
}  // namespace palvero
