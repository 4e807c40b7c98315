// The restore page's choices turned into the run's choice, the reasons it
// refuses, and the status texts of a restore.
#include <gtest/gtest.h>

#include "app/Localization.h"
#include "app/RestoreForm.h"
#include "app/RestoreStatus.h"
#include "selection/CommonExtensions.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

class RestoreFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CommonExtensions::resetForTesting();
    RemoteNode documents;
    documents.kind = RemoteNode::Kind::kFolder;
    documents.path = "/home/ann/Documents";
    documents.deviceId = "dev-b";
    selection_.setChecked(documents, true);
  }
  void TearDown() override { CommonExtensions::resetForTesting(); }

  testing::TempHome home_;
  RestoreSelection selection_;
};

TEST_F(RestoreFormTest, ChosenItemsIntoAnotherFolderAtADate) {
  RestoreForm form;
  form.latest = false;
  form.day = Date::fromLocalComponents(2024, 3, 5, 17, 45, 12);
  form.hour = 9;
  form.minute = 30;
  form.originalPlace = false;
  form.destination = home_.path();
  form.replaceFiles = false;
  std::string problem;
  auto choice = form.choice(selection_, problem);
  ASSERT_TRUE(choice) << problem;
  EXPECT_FALSE(choice->restoreAllData);
  EXPECT_FALSE(choice->restoreLatest);
  // The calendar's day with the time chosen beside it, not the day's own time.
  EXPECT_DOUBLE_EQ(choice->restoreDate, Date::fromLocalComponents(2024, 3, 5, 9, 30, 0).timeIntervalSince1970());
  EXPECT_FALSE(choice->restoreToOriginalPath);
  EXPECT_EQ(choice->restoreDestinationPath, home_.path());
  EXPECT_TRUE(choice->keepExisting);
  EXPECT_EQ(choice->filesAndFoldersForRestore, (Value{{"/home/ann/Documents", {"folder", "dev-b"}}}));
}

TEST_F(RestoreFormTest, AllDataNeedsNoSelectionAndTheLatestNoDate) {
  RestoreForm form;
  form.allData = true;
  std::string problem;
  auto choice = form.choice(RestoreSelection(), problem);
  ASSERT_TRUE(choice) << problem;
  EXPECT_TRUE(choice->restoreAllData);
  EXPECT_TRUE(choice->restoreLatest);
  EXPECT_TRUE(choice->restoreToOriginalPath);
  EXPECT_FALSE(choice->keepExisting);
  EXPECT_EQ(choice->filesAndFoldersForRestore, Value::object());
}

TEST_F(RestoreFormTest, RefusesWhatCannotBeRestored) {
  // Into another folder when `destination` is set; at a date when `hour` is.
  struct Case {
    const char* label;
    bool emptySelection;
    std::optional<std::string> destination;
    std::optional<int> hour;
    bool withDay;
    const char* problem;
  };
  const std::string aFile = home_ / "file.txt";
  testing::writeFile(aFile, "x");
  const Case cases[] = {
      {"nothing ticked", true, std::nullopt, std::nullopt, false, RestoreForm::kNothingChosen},
      {"no destination", false, "", std::nullopt, false, RestoreForm::kNoDestination},
      {"relative destination", false, "restored", std::nullopt, false, RestoreForm::kNoDestination},
      {"missing destination", false, home_ / "not-there", std::nullopt, false, RestoreForm::kDestinationMissing},
      {"a file as destination", false, aFile, std::nullopt, false, RestoreForm::kDestinationMissing},
      {"a date without a day", false, std::nullopt, 0, false, RestoreForm::kNoDate},
      {"an hour past the day", false, std::nullopt, 24, true, RestoreForm::kNoDate},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RestoreForm form;
    form.originalPlace = !c.destination;
    form.destination = c.destination.value_or("");
    form.latest = !c.hour;
    form.hour = c.hour.value_or(0);
    if (c.withDay) form.day = Date::now();
    std::string problem;
    EXPECT_FALSE(form.choice(c.emptySelection ? RestoreSelection() : selection_, problem));
    EXPECT_EQ(problem, c.problem);
    EXPECT_NE(L(problem), problem) << "the reason has a text";
  }
}

TEST_F(RestoreFormTest, TheStoredChoicesFillTheFormAgain) {
  auto& catalogue = CommonExtensions::sharedExtensionsManager();
  double at = Date::fromLocalComponents(2023, 11, 2, 14, 5, 0).timeIntervalSince1970();
  catalogue.saveParameter("restoreLatest", 0);
  catalogue.saveParameter("restoreDateTimeInterval", at);
  catalogue.saveParameter("restoreToOriginalPath", 0);
  catalogue.saveParameter("restoreDestinationPath", home_.path());
  catalogue.saveParameter("replaceFiles", 0);
  RestoreForm form = RestoreForm::stored();
  EXPECT_FALSE(form.latest);
  EXPECT_EQ(form.hour, 14);
  EXPECT_EQ(form.minute, 5);
  ASSERT_TRUE(form.pointInTime());
  EXPECT_DOUBLE_EQ(form.pointInTime()->timeIntervalSince1970(), at);
  EXPECT_FALSE(form.originalPlace);
  EXPECT_EQ(form.destination, home_.path());
  EXPECT_FALSE(form.replaceFiles);
}

TEST(RestoreStatusTest, TheStatusTextsOfARestore) {
  using Phase = RestoreStatus::Phase;
  EXPECT_EQ(RestoreStatus::filesLabelFor(Phase::kRunning, 7), "7 " + L("filepartsToRestore"));
  EXPECT_EQ(RestoreStatus::filesLabelFor(Phase::kRunning, -2), "0 " + L("filepartsToRestore"));
  EXPECT_EQ(RestoreStatus::filesLabelFor(Phase::kPreparing, 7), "Preparing to restore...");
  EXPECT_EQ(RestoreStatus::filesLabelFor(Phase::kPaused, 12), L("restorePaused") + " 12  " + L("filepartsToRestore"));
  EXPECT_EQ(RestoreStatus::filesLabelFor(Phase::kInterrupted, 3),
            L("restoreInterrupted") + " 3  " + L("filepartsToRestore"));
  EXPECT_EQ(RestoreStatus::filesLabelFor(Phase::kNone, 3), "");
  EXPECT_EQ(RestoreStatus::sizeTextFor(1500000, 2500000000LL),
            L("RestoringFilesSizeTotal") + " 1.50 " + L("MB") + "/2.50 " + L("GB"));
  EXPECT_EQ(RestoreStatus::sizeTextFor(1000000000LL, 1000000001LL),
            L("RestoringFilesSizeTotal") + " 1000.00 " + L("MB") + "/1.00 " + L("GB"));
}

}  // namespace
}  // namespace palvero
