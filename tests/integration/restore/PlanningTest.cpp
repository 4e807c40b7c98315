// Restore planning against palvero-service: dated revisions, the groups of
// the restore table, selections with removed items, other devices.
#include "integration/restore/RestoreFixture.h"

namespace palvero::testing {
namespace {

class PlanningTest : public RestoreFixture {
 protected:
  // Plans a selection of `folder` (kind "folder") as at `date`.
  std::vector<RestoreEntry> planFolder(const std::string& folder, std::optional<Date> at,
                                       const std::string& device = "") {
    RestoreChoice choice;
    choice.restoreLatest = !at.has_value();
    if (at) choice.restoreDate = at->timeIntervalSince1970();
    choice.filesAndFoldersForRestore = Value{{folder, Value::array({"folder", device})}};
    manager().setChoice(choice);
    return manager().getFilesToRestoreChooseData(choice.restoreLatest);
  }

  static std::map<std::string, int64_t> revisions(const std::vector<RestoreEntry>& entries) {
    std::map<std::string, int64_t> out;
    for (const auto& entry : entries) out[entry.path] = entry.revision;
    return out;
  }
};

TEST_F(PlanningTest, ADatedRestoreTakesTheRevisionInForceAndSingleRevisionsAtTheirLatest) {
  const std::string docs = home_ / "docs";
  uploadRevision(docs + "/two.txt", "20240131 10:00:00");
  uploadRevision(docs + "/two.txt", "20240131 12:00:00");
  uploadRevision(docs + "/single.txt", "20240131 08:00:00");
  uploadRevision(docs + "/later.txt", "20240131 12:00:00");
  constexpr int64_t kLeftOut = -3;
  struct Case {
    const char* label;
    int hour;
    int64_t two;
  };
  for (const Case& c : {Case{"at 11:00", 11, 1}, Case{"at 09:00", 9, kLeftOut}, Case{"at 13:00", 13, 2},
                        Case{"at 12:00 exactly", 12, 1}}) {
    SCOPED_TRACE(c.label);
    DBManager::sharedDBManager().RemoveAllFilesFromDatabase(false);
    auto planned = revisions(planFolder(docs, Date::fromLocalComponents(2024, 1, 31, c.hour, 0, 0)));
    auto revisionOf = [&](const std::string& name) { return planned.count(name) ? planned[name] : kLeftOut; };
    EXPECT_EQ(revisionOf(docs + "/two.txt"), c.two);
    // A file of one revision is restored at its latest, whatever its date.
    EXPECT_EQ(revisionOf(docs + "/single.txt"), -1);
    EXPECT_EQ(revisionOf(docs + "/later.txt"), -1);
  }
  EXPECT_EQ(revisions(planFolder(docs, std::nullopt)).at(docs + "/two.txt"), -1);
}

TEST_F(PlanningTest, FindVersionByDatePicksTheNearestEarlierWholeSecond) {
  auto at = [](int h, int m, int s) { return BackupFileVersion{0, 0, Date::fromLocalComponents(2024, 1, 31, h, m, s)}; };
  std::vector<BackupFileVersion> versions = {at(10, 0, 0), at(12, 0, 0), at(10, 0, 0), at(11, 59, 59)};
  versions[0].number = 1;
  versions[1].number = 2;
  versions[2].number = 3;
  versions[3].number = 4;
  double noon = Date::fromLocalComponents(2024, 1, 31, 12, 0, 0).timeIntervalSince1970();
  EXPECT_EQ(RestoreManager::findVersionByDate(noon, versions), 4);
  EXPECT_EQ(RestoreManager::findVersionByDate(noon - 1, versions), 1) << "the first of equals wins";
  EXPECT_EQ(RestoreManager::findVersionByDate(noon - 1.5, versions), 1);
  // Less than a whole second before the date does not count as before it.
  EXPECT_EQ(RestoreManager::findVersionByDate(noon - 7200 + 0.5, versions), -2);
  versions.push_back(BackupFileVersion{9, 0, std::nullopt});
  EXPECT_EQ(RestoreManager::findVersionByDate(noon + 3600, versions), 2) << "a version without date is skipped";
}

TEST_F(PlanningTest, AThousandFilesGoToTheTableInGroupsOf400) {
  const std::string folder = home_ / "many";
  for (int i = 0; i < 1000; ++i) uploadRevision(folder + stringWithFormat("/f%04d.txt", i), "20240131 10:00:00");
  auto planned = planFolder(folder, std::nullopt);
  EXPECT_EQ(planned.size(), 1000u);
  auto groups = logLinesStartingWith("Restore list: ");
  EXPECT_EQ(groups, (std::vector<std::string>{"Restore list: 400 entries written", "Restore list: 400 entries written",
                                              "Restore list: 200 entries written"}));
  EXPECT_EQ(DBManager::sharedDBManager().GetTotalNumberOfFiles(false), 1000);
  // The table is read back 400 at a time.
  EXPECT_EQ(DBManager::sharedDBManager().SelectRestoreFilesFromDatabase(0).size(), 400u);
}

TEST_F(PlanningTest, ItemsTakenOutOfAChosenFolderAreSkippedUnlessChosenAgainBelow) {
  const std::string docs = home_ / "docs";
  for (const char* name : {"/a.txt", "/old/b.txt", "/old/keep/c.txt", "/old/keep/tmp/f.txt", "/older/d.txt", "/sub/e.txt"}) {
    uploadRevision(docs + name, "20240131 10:00:00");
  }
  RestoreChoice choice;
  choice.filesAndFoldersForRestore =
      Value{{docs, Value::array({"folder", ""})}, {docs + "/old/keep", Value::array({"folder", ""})}};
  // The deepest removed item above a path decides, not the first one.
  choice.filesAndFoldersRemovedFromRestore = Value{{docs + "/old", Value::array({"folder", ""})},
                                                   {docs + "/old/keep/tmp", Value::array({"folder", ""})},
                                                   {docs + "/sub/e.txt", Value::array({"file", ""})}};
  manager().setChoice(choice);
  std::set<std::string> paths;
  for (const auto& entry : manager().getFilesToRestoreChooseData(true)) paths.insert(entry.path);
  EXPECT_EQ(paths, (std::set<std::string>{docs + "/a.txt", docs + "/old/keep/c.txt", docs + "/older/d.txt"}));
}

TEST_F(PlanningTest, AFailedListingIsReportedNotSilentlyDropped) {
  const std::string docs = home_ / "docs";
  uploadRevision(docs + "/a.txt", "20240131 10:00:00");
  uploadRevision(docs + "/sub/b.txt", "20240131 10:00:00");
  service_.addFault("get_folder_page:500:1:skip=1");
  auto planned = planFolder(docs, std::nullopt);
  ASSERT_EQ(planned.size(), 1u);
  EXPECT_EQ(planned[0].path, docs + "/a.txt");
  EXPECT_EQ(failedPaths(), std::vector<std::string>{docs + "/sub"});
}

}  // namespace
}  // namespace palvero::testing
