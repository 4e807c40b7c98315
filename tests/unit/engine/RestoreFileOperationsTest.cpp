#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/Date.h"
#include "engine/PathRules.h"
#include "engine/RestoreFileOperations.h"
#include "engine/format/util/Functions.h"
#include "support/TempHome.h"

namespace palvero::testing {
namespace {

TEST(RestoreFileOperationsTest, HexTextIsReadLeniently) {
  struct Case {
    const char* text;
    Bytes bytes;
  };
  for (const Case& c : {Case{"48 65 6c", {0x48, 0x65, 0x6c}}, Case{"ABcd", {0xab, 0xcd}}, Case{"abc", {0xab}},
                        Case{"4z", {0x04}}, Case{"z4", {0x00}}, Case{"zz41", {0x00, 0x41}}}) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(RestoreFileOperations::getDataFromHexString(c.text), c.bytes);
  }
}

TEST(RestoreFileOperationsTest, ExtensionsAreTheLastDotOfTheName) {
  struct Case {
    const char* path;
    const char* stem;
    const char* extension;
  };
  for (const Case& c : {Case{"/a/report.pdf", "/a/report", "pdf"}, Case{"/a/README", "/a/README", ""},
                        Case{"/a/x.tar.gz", "/a/x.tar", "gz"}, Case{"/a/.profile", "/a/.profile", ""},
                        Case{"/a.d/file", "/a.d/file", ""}, Case{"/a/name.", "/a/name.", ""},
                        Case{"/a/.hidden.txt", "/a/.hidden", "txt"}}) {
    SCOPED_TRACE(c.path);
    auto [stem, extension] = RestoreFileOperations::splitExtension(c.path);
    EXPECT_EQ(stem, c.stem);
    EXPECT_EQ(extension, c.extension);
  }
}

TEST(RestoreFileOperationsTest, BundleMembersAreRecognisedWithoutRegardToCase) {
  EXPECT_TRUE(RestoreFileOperations::isInsideBundle("/Apps/Foo.app/Contents/Info.plist"));
  EXPECT_TRUE(RestoreFileOperations::isInsideBundle("/x/Image.DMG/data"));
  EXPECT_TRUE(RestoreFileOperations::isInsideBundle("/x/Game.ipa/payload.bin"));
  EXPECT_TRUE(RestoreFileOperations::isInsideBundle("/x/Book.LPDF/page"));
  // The last extension is removed first: a bundle itself is not inside one.
  EXPECT_FALSE(RestoreFileOperations::isInsideBundle("/x/Foo.app"));
  EXPECT_FALSE(RestoreFileOperations::isInsideBundle("/x/report.pdf"));
}

TEST(RestoreFileOperationsTest, TheFileToWriteKeepsAnExistingFileUnlessReplacing) {
  TempHome home;
  std::string existing = home / "report.pdf";
  writeFile(existing, "x");
  const std::string date = "20240131 17:05:09";
  const double revision = Date::parse(date, Date::kSettingsPattern)->timeIntervalSince1970();
  const std::string beside = home / "report(20240131 17:05:09).pdf";
  // Replacing: a local file at or before the revision's time goes. One
  // changed after it (a whole second or more) is kept, the revision going
  // beside it, only when newer local files are kept (the latest state); a
  // dated or chosen revision replaces it.
  struct Case {
    double localTime;
    bool newer;
  };
  for (const Case& c : {Case{revision - 3600, false}, Case{revision, false}, Case{revision + 0.5, false},
                        Case{revision + 1, true}, Case{revision + 86400, true}}) {
    SCOPED_TRACE(c.localTime - revision);
    struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(c.localTime),
                                                  static_cast<long>((c.localTime - static_cast<time_t>(c.localTime)) * 1e9)}};
    ASSERT_EQ(::utimensat(AT_FDCWD, existing.c_str(), times, 0), 0);
    EXPECT_EQ(RestoreFileOperations::fileToWrite(existing, date, true, true), c.newer ? beside : existing);
    EXPECT_EQ(RestoreFileOperations::fileToWrite(existing, date, true, false), existing);
    for (bool keepNewer : {true, false}) {
      EXPECT_EQ(RestoreFileOperations::fileToWrite(existing, date, false, keepNewer), beside);
    }
  }
  EXPECT_EQ(RestoreFileOperations::fileToWrite(home / "absent.pdf", date, false, true), home / "absent.pdf");
  writeFile(home / "README", "x");
  EXPECT_EQ(RestoreFileOperations::fileToWrite(home / "README", date, false, true), home / "README(20240131 17:05:09)");
  writeFile(home / "Foo.app/Contents/Info.plist", "x");
  EXPECT_EQ(RestoreFileOperations::fileToWrite(home / "Foo.app/Contents/Info.plist", date, false, true),
            home / "Foo.app/Contents/Info.plist");
}

TEST(RestoreFileOperationsTest, WriteDataToFileAppendsToAnExistingFileOnly) {
  TempHome home;
  std::string path = home / "append.bin";
  EXPECT_FALSE(RestoreFileOperations::writeDataToFile(bytesFromString("a"), path));
  writeFile(path, "ab");
  EXPECT_TRUE(RestoreFileOperations::writeDataToFile(bytesFromString("cd"), path));
  EXPECT_EQ(readFile(path), "abcd");
}

TEST(PathRulesTest, VersionTextsCannotHoldLineFeedsOrBars) {
  EXPECT_FALSE(PathRules::versionTextProblem("/home/u/a file (1) 'x' \"y\" \xC3\xA9.txt"));
  // Lines are split at line feeds only: a carriage return stays in its line.
  EXPECT_FALSE(PathRules::versionTextProblem("/home/u/Icon\r"));
  EXPECT_TRUE(PathRules::versionTextProblem("/home/u/a\nb"));
  EXPECT_TRUE(PathRules::versionTextProblem("/home/u/a\r\nb"));
  EXPECT_TRUE(PathRules::versionTextProblem("/home/u/a|b"));
}

TEST(PathRulesTest, OnlyWholeDotDotComponentsLeaveAFolder) {
  for (const char* path : {"..", "../a", "/a/..", "/a/../b", "a/b/../../.."}) {
    EXPECT_TRUE(PathRules::hasParentComponent(path)) << path;
  }
  for (const char* path : {"", "/", "/a/b", "/a/..b", "/a/b..", "/a/.../b", "/a/./b", "./a"}) {
    EXPECT_FALSE(PathRules::hasParentComponent(path)) << path;
  }
}

}  // namespace
}  // namespace palvero::testing
