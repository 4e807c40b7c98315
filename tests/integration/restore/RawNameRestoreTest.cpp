// File and folder names that are not UTF-8 (a Linux name may hold any
// bytes, say Latin-1 names from an old disk) come back from the service's
// listings and a restore under exactly the bytes they had.
#include "integration/restore/RestoreFixture.h"

namespace palvero::testing {
namespace {

class RawNameRestoreTest : public RestoreFixture {};

TEST_F(RawNameRestoreTest, NamesThatAreNotUtf8ComeBackByteForByte) {
  const std::map<std::string, std::string> tree = {
      {"docs/caf\xE9.txt", textContent(3000, 1)},                 // Latin-1
      {"docs/\xFF\xFE raw/inner.bin", randomContent(70000, 2)},   // in a folder so named
      {"docs/half \xE2\x82.txt", "cut short"},                    // a UTF-8 sequence cut short
      {"docs/caf\xC3\xA9.txt", textContent(500, 3)},              // the same word in UTF-8, beside it
  };
  for (const auto& [relative, content] : tree) {
    writeFile(home_ / relative, content);
    ASSERT_TRUE(backup(home_ / relative)) << relative;
  }

  auto listing = newServer()->getFolderWithPath(home_ / "docs", std::nullopt, false);
  ASSERT_TRUE(listing);
  std::vector<std::string> files, folders;
  for (const auto& file : listing->files) files.push_back(file.name);
  for (const auto& folder : listing->subFolders) folders.push_back(folder.path);
  EXPECT_EQ(files, (std::vector<std::string>{"caf\xC3\xA9.txt", "caf\xE9.txt", "half \xE2\x82.txt"}));
  EXPECT_EQ(folders, std::vector<std::string>{home_ / "docs/\xFF\xFE raw"});

  RestoreChoice choice;
  choice.restoreAllData = true;
  choice.restoreToOriginalPath = false;
  choice.restoreDestinationPath = home_ / "restored";
  ASSERT_TRUE(restoreWith(choice));
  EXPECT_TRUE(manager_->failedFiles().empty());
  std::vector<std::string> expected;
  for (const auto& [relative, content] : tree) {
    expected.push_back(relative);
    EXPECT_TRUE(readFile(home_ / "restored/" + relative) == content) << relative;
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(filesBelow(home_ / "restored"), expected);
}

}  // namespace
}  // namespace palvero::testing
