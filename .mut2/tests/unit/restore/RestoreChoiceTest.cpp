#include <gtest/gtest.h>

#include "restore/RestoreChoice.h"

namespace palvero {
namespace {

// The choice is stored with a run so that a run killed before its list was
// complete can list again; every field a listing depends on must come back.
TEST(RestoreChoiceTest, AStoredChoiceReadsBackWhole) {
  RestoreChoice single;
  single.restoreSingleFile = true;
  single.restoreLatest = false;
  single.restoreToOriginalPath = false;
  single.restoreDestinationPath = "/home/ann/out";
  single.restoreDate = 1706717109.5;
  single.keepExisting = true;
  BackupedFile file;
  file.name = "/home/ann/report.pdf";
  file.size = 300000;
  file.deviceId = "device-2";
  file.versions = {{1, 100, Date::fromTimeIntervalSince1970(1706000000)}, {2, 300000, std::nullopt}};
  single.singleFileForRestore = file;
  single.backupFileVersion = file.versions[0];

  RestoreChoice selection;
  selection.showDeletedFiles = true;
  selection.filesAndFoldersForRestore = {{"/home/ann/docs", {"folder", ""}}, {"/", {"drive", "device-2"}}};
  selection.filesAndFoldersRemovedFromRestore = {{"/home/ann/docs/tmp", {"folder", ""}}};

  for (const RestoreChoice& choice : {single, selection, RestoreChoice{}}) {
    Value stored = Value::parse(choice.toValue().dump());
    SCOPED_TRACE(stored.dump());
    auto back = RestoreChoice::fromValue(stored);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->toValue(), choice.toValue());
    ASSERT_EQ(back->singleFileForRestore.has_value(), choice.singleFileForRestore.has_value());
    if (choice.singleFileForRestore) {
      ASSERT_EQ(back->singleFileForRestore->versions.size(), 2u);
      EXPECT_EQ(back->singleFileForRestore->versions[0].date, file.versions[0].date);
      EXPECT_FALSE(back->singleFileForRestore->versions[1].date);
      EXPECT_EQ(back->backupFileVersion->number, 1);
    }
  }
  EXPECT_FALSE(RestoreChoice::fromValue(Value{{"restoreAllData", true}}));
  EXPECT_FALSE(RestoreChoice::fromValue(Value("restore everything")));
}

}  // namespace
}  // namespace palvero
