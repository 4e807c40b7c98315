#include <gtest/gtest.h>

#include <string>

#include "SelectionTestSupport.h"
#include "platform/PreferencesStore.h"
#include "selection/CommonExtensions.h"
#include "selection/ExtensionParser.h"

namespace palvero {
namespace {

class CommonExtensionsTest : public ::testing::Test {
 protected:
  CommonExtensions& catalogue() { return CommonExtensions::sharedExtensionsManager(); }
  // Loads a new catalogue from what the store holds on disk.
  CommonExtensions& reload() {
    CommonExtensions::resetForTesting();
    PreferencesStore::resetForTesting();
    return CommonExtensions::sharedExtensionsManager();
  }
  std::string home(const std::string& relative) { return home_ / relative; }

  testing::SelectionHome home_;
};

TEST_F(CommonExtensionsTest, EmptyOrMissingStoredValuesLoadTheDefaults) {
  auto& store = PreferencesStore::sharedStore();
  store.setObject("diskImages", "");
  store.setObject("binary", ".EXE;");
  store.setObject("includefolders", Value::array());
  store.setObject("excludefolders", Value::array({home("Keep")}));
  store.setObject("diskImagesValues", Value::object());
  store.setObject("replaceFiles", false);
  ASSERT_TRUE(store.synchronize());
  auto s = reload().selection();
  EXPECT_EQ(s->diskImages, std::optional<std::string>(CommonExtensions::kDefaultDiskImages));
  EXPECT_EQ(s->binary, std::optional<std::string>(".EXE;"));
  EXPECT_EQ(s->foldersToBeExcludedFromBackup, (std::vector<std::string>{home("Applications"), home(".Trash")}));
  EXPECT_EQ(s->foldersToBeIncludedToBackupSeparately, (std::vector<std::string>{home("Keep")}));
  EXPECT_EQ(s->diskImagesValues, Value::object()) << "a stored dictionary, even empty, replaces the default";
  EXPECT_FALSE(s->replaceFiles);
}

TEST_F(CommonExtensionsTest, SaveParameterConvertsByKey) {
  struct Case {
    const char* key;
    Value value;
    bool expected;
    bool before = !expected;
  } cases[] = {
      {"emptyfiles", 1, true},
      {"emptyfiles", "1", true},
      {"emptyfiles", "true", false},
      {"emptyfiles", "YES", false},
      {"emptyfiles", true, true},
      {"emptyfiles", 0, false},
      {"emptyfiles", "12abc", true},
      {"emptyfiles", Value(), false},
      {"NeedFullBackup", 1, true},
      {"needFullBackup", 1, false, false},  // the parameter key differs from the stored one: no change
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " = " + c.value.dump());
    catalogue().setEmptyfiles(c.before);
    catalogue().setNeedFullBackup(c.before);
    EXPECT_TRUE(catalogue().saveParameter(c.key, c.value));
    bool now = std::string(c.key) == "emptyfiles" ? catalogue().emptyfiles() : catalogue().needFullBackup();
    EXPECT_EQ(now, c.expected);
  }
}

TEST_F(CommonExtensionsTest, SavedValuesSurviveAReload) {
  auto& c = catalogue();
  EXPECT_TRUE(c.saveParameter("picture", ".JPG;.PNG;"));
  EXPECT_TRUE(c.saveParameter("maxSize", "5242880"));
  // A real date: seconds since 1970 held in a float would be off by ~2 minutes.
  EXPECT_TRUE(c.saveParameter("restoreDateTimeInterval", 1706717109.5));
  EXPECT_TRUE(c.saveParameter("includefolders", Value::array({home("Old")})));
  EXPECT_TRUE(c.saveParameter("restoreDestinationPath", "/tmp/out"));
  EXPECT_TRUE(c.saveParameter("backupHiddenFiles", 1));
  EXPECT_TRUE(c.saveParameter("no such key", 1));
  c.setPictureValues({{".JPG", true}, {".PNG", false}});
  EXPECT_TRUE(c.saveExtensions());

  auto s = reload().selection();
  EXPECT_EQ(s->picture, std::optional<std::string>(".JPG;.PNG;"));
  EXPECT_TRUE(s->pictureList.matchesFileName("a.png"));
  EXPECT_EQ(s->maxSizeBytes(), 5242880);
  EXPECT_EQ(s->restoreDateTimeInterval, 1706717109.5);
  EXPECT_EQ(s->foldersToBeExcludedFromBackup, (std::vector<std::string>{home("Old")}));
  EXPECT_EQ(s->restoreDestinationPath, std::optional<std::string>("/tmp/out"));
  EXPECT_TRUE(s->backupHiddenFiles);
  EXPECT_EQ(s->pictureValues, (Value{{".JPG", true}, {".PNG", false}}));
  EXPECT_FALSE(PreferencesStore::sharedStore().objectForKey("forbiddenFolders")) << "never written";
}

TEST_F(CommonExtensionsTest, EmptiedFolderListKeepsTheStoredOne) {
  auto& c = catalogue();
  c.setFilesToBeExcludedFromBackup({home("a.txt")});
  ASSERT_TRUE(c.saveExtensions());
  c.setFilesToBeExcludedFromBackup({});
  ASSERT_TRUE(c.saveExtensions());
  EXPECT_EQ(reload().filesToBeExcludedFromBackup(), (std::vector<std::string>{home("a.txt")}));
}

TEST_F(CommonExtensionsTest, UnwritableStoreMakesSaveFail) {
  // The config folder is a file: the store cannot be written.
  testing::writeFile(home_ / ".config", "not a folder");
  PreferencesStore::resetForTesting();
  EXPECT_FALSE(catalogue().saveParameter("emptyfiles", 1));
  EXPECT_TRUE(catalogue().emptyfiles()) << "memory keeps the value";
}

TEST_F(CommonExtensionsTest, ExclusionsJSONWithValues) {
  auto& c = catalogue();
  c.setFoldersToBeExcludedFromBackup({"C:\\Users\\me", "/home/u/say \"hi\""});
  c.setFoldersToBeIncludedToBackupSeparately({});
  c.setMaxSize(Value(10485760));
  c.setExternalhd(true);
  c.setBackupHiddenFiles(true);
  c.setAdditional(".vmc;.vhd;");
  c.setPictureValues({{".JPG", true}, {".Png", 1}, {".gif", false}, {".bmp", "0"}});
  c.setComplexValues({{".APP", true}});
  std::string json = c.exclusionsToJSON();
  EXPECT_NE(json.find("\"includefolders\":[\"C:\\\\Users\\\\me\",\"/home/u/say \\\"hi\\\"\"]"), std::string::npos)
      << json;
  EXPECT_NE(json.find("\"excludefolders\":[], "), std::string::npos) << json;
  EXPECT_NE(json.find("\"size\":10485760,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"externalhd\":true,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"BackupHiddenFiles\":true}}"), std::string::npos) << json;
  EXPECT_NE(json.find("\"additional\":[\".vmc\",\".vhd\"]"), std::string::npos) << json;
  EXPECT_NE(json.find("\"picture\":[\".jpg\",\".png\"]"), std::string::npos) << json;
  EXPECT_NE(json.find("\"complexFiles\":[\".app\"]"), std::string::npos) << json;
  // Valid JSON, whatever the paths hold.
  Value parsed = Value::parse(json, nullptr, false);
  ASSERT_FALSE(parsed.is_discarded()) << json;
  EXPECT_EQ(parsed["Exclusions"]["includefolders"][0], "C:\\Users\\me");

  c.setMaxSize(Value("garbage\"}"));
  EXPECT_NE(c.exclusionsToJSON().find("\"size\":0,"), std::string::npos) << "a text size cannot break the document";
  c.setAdditional(std::nullopt);
  EXPECT_NE(c.extentions().find("\"additional\":[]"), std::string::npos);
  c.setComplexValues(Value::array({".app"}));
  EXPECT_NE(c.extentions().find("\"complexFiles\":[]"), std::string::npos) << "a list chooses nothing";
}

TEST_F(CommonExtensionsTest, InterceptionsLeaveAFolderOnlyInTheExcludedList) {
  auto& c = catalogue();
  std::string a = home("Documents/A");
  c.setFoldersToBeExcludedFromBackup({home("Applications"), a});
  c.setFoldersToBeIncludedToBackupSeparately({home("Library"), a, home("Documents/B")});
  c.checkFoldersForInterceptions();
  EXPECT_EQ(c.foldersToBeIncludedToBackupSeparately(),
            (std::vector<std::string>{home("Library"), home("Documents/B")}));
  EXPECT_EQ(c.foldersToBeExcludedFromBackup(), (std::vector<std::string>{home("Applications"), a}));
  EXPECT_EQ(reload().foldersToBeIncludedToBackupSeparately(),
            (std::vector<std::string>{home("Library"), home("Documents/B")}))
      << "saved";
  std::string json = catalogue().exclusionsToJSON();
  EXPECT_NE(json.find("\"excludefolders\":[\"" + home("Library") + "\",\"" + home("Documents/B") + "\"]"),
            std::string::npos)
      << json;
}

TEST_F(CommonExtensionsTest, SnapshotsStayConsistentWhileSettersRun) {
  auto& c = catalogue();
  auto before = c.selection();
  c.setPicture(".RAW;");
  EXPECT_EQ(before->picture, std::nullopt) << "a snapshot never changes";
  EXPECT_FALSE(before->pictureList.matchesFileName("a.raw"));
  EXPECT_TRUE(c.selection()->pictureList.matchesFileName("a.raw"));
}

TEST(ExtensionParserTest, PictureSlotsRoundTrip) {
  auto slots = ExtensionParser::getPicturesExtensionsFromSettings(".JPG;.tif;.PXM;.unknown;");
  std::array<bool, 13> expected{};
  expected[1] = expected[3] = expected[12] = true;
  EXPECT_EQ(slots, expected) << "the second .jpg slot is never set, .tif does not set .tiff";
  EXPECT_EQ(ExtensionParser::getPicturesExtensionsWithList(slots), ".jpg;.tif;.pxm;");
  std::array<bool, 13> both{};
  both[1] = both[4] = true;
  EXPECT_EQ(ExtensionParser::getPicturesExtensionsWithList(both), ".jpg;");
  EXPECT_EQ(ExtensionParser::getPicturesExtensionsWithList({}), "");
  EXPECT_EQ(ExtensionParser::getPicturesExtensionsFromSettings(""), (std::array<bool, 13>{}));
}

TEST(ExtensionParserTest, DotPaths) {
  EXPECT_TRUE(ExtensionParser::excludeDotPath("/home/u/Documents"));
  EXPECT_FALSE(ExtensionParser::excludeDotPath("/home/u/.config"));
  EXPECT_TRUE(ExtensionParser::excludeDotPath("/home/u/a.b"));
}

}  // namespace
}  // namespace palvero
