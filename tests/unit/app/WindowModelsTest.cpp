// The plain models behind the desktop window: the folder selection of the
// exclusions tree, the file types and size limit of the editor, the usage
// figures, the largest-files deletion list and who holds the instance lock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>

#include "support/TempHome.h"
#include "app/FileTypeSelection.h"
#include "app/FolderSelection.h"
#include "app/InstanceTakeover.h"
#include "app/LargestFiles.h"
#include "app/Localization.h"
#include "app/UsageModel.h"
#include "selection/CommonExtensions.h"
#include "selection/FolderChanges.h"

namespace palvero::testing {
namespace {

using State = FolderSelection::State;

TEST(FolderSelectionTest, StatesFollowTheInnermostListedFolder) {
  FolderSelection selection({"/h/Music", "/h/Docs/old"}, {"/h/Music/keep"});
  struct Case {
    const char* path;
    State state;
  } cases[] = {
      {"/h", State::kPartial},            // something below is left out
      {"/h/Pictures", State::kChecked},
      {"/h/Music", State::kPartial},      // left out, but keep/ is taken in again
      {"/h/Music/keep", State::kChecked},
      {"/h/Music/keep/a", State::kChecked},
      {"/h/Music/other", State::kUnchecked},
      {"/h/Docs", State::kPartial},
      {"/h/Docs/old", State::kUnchecked},
      {"/h/Docs/older", State::kChecked},  // whole components only
      {"/h/Music/", State::kPartial},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(selection.stateOf(c.path), c.state);
  }
}

TEST(FolderSelectionTest, CheckingAndUncheckingKeepsOnlyWhatIsNeeded) {
  FolderSelection selection({"/h/Music", "/h/Docs/old"}, {"/h/Music/keep"});
  FolderChanges changes;
  selection.setChecked("/h/Music", true, &changes);
  EXPECT_EQ(selection.excluded(), std::vector<std::string>{"/h/Docs/old"});
  EXPECT_TRUE(selection.included().empty());
  EXPECT_EQ(selection.stateOf("/h/Music/other"), State::kChecked);

  selection.setChecked("/h/Docs", false, &changes);
  EXPECT_EQ(selection.excluded(), std::vector<std::string>{"/h/Docs"});
  EXPECT_EQ(selection.stateOf("/h/Docs/new"), State::kUnchecked);

  // A folder below a left-out one is taken in again on its own.
  selection.setChecked("/h/Docs/new", true, &changes);
  EXPECT_EQ(selection.included(), std::vector<std::string>{"/h/Docs/new"});
  EXPECT_EQ(selection.stateOf("/h/Docs"), State::kPartial);
  EXPECT_EQ(selection.stateOf("/h/Docs/new/x"), State::kChecked);

  // Unchecking it again needs no entry: its parent is already left out.
  selection.setChecked("/h/Docs/new", false, &changes);
  EXPECT_TRUE(selection.included().empty());
  EXPECT_EQ(selection.stateOf("/h/Docs"), State::kUnchecked);

  EXPECT_TRUE(changes.exclusionsChanged());
  EXPECT_EQ(changes.addedFolders(), (std::vector<std::string>{"/h/Music", "/h/Docs/new"}));
  EXPECT_EQ(changes.removedFolders(), (std::vector<std::string>{"/h/Docs", "/h/Docs/new"}));
}

TEST(FolderSelectionTest, StoresBothListsInTheCatalogue) {
  TempHome home;
  CommonExtensions::resetForTesting();
  FolderSelection selection = FolderSelection::fromCatalogue();
  selection.setChecked(home.path() + "/Videos", false);
  selection.setChecked(home.path() + "/Videos/family", true);
  ASSERT_TRUE(selection.store());
  CommonExtensions::resetForTesting();
  FolderSelection reloaded = FolderSelection::fromCatalogue();
  EXPECT_EQ(reloaded.stateOf(home.path() + "/Videos"), State::kPartial);
  EXPECT_EQ(reloaded.stateOf(home.path() + "/Videos/family/2023"), State::kChecked);
  EXPECT_EQ(reloaded.stateOf(home.path() + "/Videos/work"), State::kUnchecked);
  CommonExtensions::resetForTesting();
}

class FileTypeSelectionTest : public ::testing::Test {
 protected:
  void SetUp() override { CommonExtensions::resetForTesting(); }
  void TearDown() override { CommonExtensions::resetForTesting(); }
  TempHome home_;
};

TEST_F(FileTypeSelectionTest, ABoxWritesTheSelectionAndTheListTheFilterReads) {
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  // The service sent one extension that has no box; it stays.
  extensions.setVideo(std::string(".OGV;.AVI;"));
  const auto& video = *FileTypeSelection::category("videoValues");
  FileTypeSelection::setChecked(video, ".MKV", true);
  FileTypeSelection::setChecked(video, ".AVI", false);
  CommonExtensions::resetForTesting();  // what was saved
  auto& reloaded = CommonExtensions::sharedExtensionsManager();
  EXPECT_TRUE(FileTypeSelection::isChecked(video, ".MKV"));
  EXPECT_FALSE(FileTypeSelection::isChecked(video, ".AVI"));
  EXPECT_EQ(reloaded.videoValues().value(".MKV", false), true);
  EXPECT_EQ(reloaded.videoValues().value(".AVI", true), false);
  EXPECT_EQ(reloaded.video().value_or(""), ".OGV;.MKV;");
  EXPECT_TRUE(reloaded.selection()->refusedList.matchesFileName("film.mkv"));
  EXPECT_FALSE(reloaded.selection()->refusedList.matchesFileName("film.avi"));
}

TEST_F(FileTypeSelectionTest, SizeLimitInMegabytesOrGigabytes) {
  struct Case {
    const char* text;
    bool gigabytes;
    int64_t bytes;
  } cases[] = {{"10", true, 10737418240},  {"0", true, -1},       {"", false, -1},
               {"abc", false, -1},         {"12abc", false, -1}, {"-5", false, -1},
               {"1.5", false, 1572864},    {" 20 ", false, 20971520}, {"1e30", true, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FileTypeSelection::sizeLimitBytes(c.text, c.gigabytes), c.bytes);
  }
  EXPECT_EQ(FileTypeSelection::storeSizeLimit("10", true), 10737418240);
  CommonExtensions::resetForTesting();
  EXPECT_EQ(CommonExtensions::sharedExtensionsManager().selection()->maxSizeBytes(), 10737418240);
  EXPECT_EQ(FileTypeSelection::sizeLimitForDisplay(), (std::pair<std::string, bool>{"10", true}));
  FileTypeSelection::storeSizeLimit("0", false);
  CommonExtensions::resetForTesting();
  EXPECT_EQ(CommonExtensions::sharedExtensionsManager().selection()->maxSizeBytes(), -1);
  EXPECT_EQ(FileTypeSelection::sizeLimitForDisplay().first, "");
}

TEST(UsageModelTest, FiguresFromTheStatisticsReply) {
  Value reply = {{"documents", 3 * 1073741824LL / 2}, {"music", "1048576"}, {"pictures", "junk"},
                 {"total_used", 1610612736LL},        {"total_files_count", 1234567}};
  UsageModel model = UsageModel::fromStatistics(reply);
  ASSERT_TRUE(model.received);
  ASSERT_EQ(model.slices.size(), 6u);
  EXPECT_EQ(model.slices[0].category, "documents");
  EXPECT_EQ(model.slices[0].number + " " + model.slices[0].unit, "1.50 " + L("GB"));
  EXPECT_EQ(model.slices[1].number + " " + model.slices[1].unit, "1.00 " + L("MB"));
  EXPECT_EQ(model.slices[2].bytes, 0) << "an unreadable size counts nothing";
  EXPECT_EQ(model.slices[5].bytes, 0) << "a missing category counts nothing";
  EXPECT_EQ(model.storageUsedNumber, "1.50");
  EXPECT_EQ(model.filesCount, "1,234,567");

  UsageModel none = UsageModel::fromStatistics(Value());
  EXPECT_FALSE(none.received);
  EXPECT_EQ(none.storageUsedNumber, "-");
  EXPECT_EQ(none.filesCount, "-");
  for (auto [value, text] : {std::pair<int64_t, const char*>{0, "0"}, {999, "999"}, {1000, "1,000"},
                             {-1234, "-1,234"}, {INT64_MIN, "-9,223,372,036,854,775,808"}}) {
    EXPECT_EQ(UsageModel::groupDigits(value), text);
  }
}

TEST(LargestFilesTest, DeletionListNamesThePathOnceRootedAndEscaped) {
  EXPECT_EQ(LargestFiles::deletionList("/home/ann/a.pdf"), R"(["/home/ann/a.pdf"])");
  EXPECT_EQ(LargestFiles::deletionList("home/ann/a.pdf"), R"(["/home/ann/a.pdf"])");
  EXPECT_EQ(LargestFiles::deletionList("//home/x"), R"(["/home/x"])");
  EXPECT_EQ(LargestFiles::deletionList(R"(/h/say "hi"\.txt)"), R"(["/h/say \"hi\"\\.txt"])");
}

TEST(InstanceTakeoverTest, TellsTheDaemonFromTheDesktopAndCommands) {
  using Holder = InstanceTakeover::Holder;
  struct Case {
    std::vector<std::string> arguments;
    Holder holder;
  } cases[] = {
      {{"/usr/bin/palvero", "daemon"}, Holder::kDaemon},
      {{"palvero", "--server", "http://x", "daemon"}, Holder::kDaemon},
      {{"/opt/palvero/palvero-desktop"}, Holder::kDesktop},
      {{"palvero", "backup"}, Holder::kCommand},
      {{"/usr/bin/vim", "daemon"}, Holder::kUnknown},
      {{}, Holder::kUnknown},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.empty() ? "(none)" : c.arguments[0]);
    EXPECT_EQ(InstanceTakeover::classify(c.arguments), c.holder);
  }
  EXPECT_EQ(InstanceTakeover::holder(std::nullopt), Holder::kUnknown);
  EXPECT_EQ(InstanceTakeover::stopDaemonAndLock(::getpid(), std::chrono::milliseconds(10)), nullptr)
      << "a process that is not the daemon is never signalled";
}

}  // namespace
}  // namespace palvero::testing
