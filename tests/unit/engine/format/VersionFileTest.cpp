#include <gtest/gtest.h>

#include "engine/format/VersionFile.h"
#include "platform/Env.h"
#include "state/LogWriter.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

class VersionFileTest : public ::testing::Test {
 protected:
  std::string log() const { return testing::readFile(LogWriter::sharedLogger().currentLogFilepath()); }
  testing::TempHome home_;
};

FileBlock block(int64_t position, std::string checksum, int64_t length, std::string small, int32_t first,
                int32_t last) {
  FileBlock b;
  b.position = position;
  b.checksum = std::move(checksum);
  b.length = length;
  b.smallChecksum = std::move(small);
  b.FirstCheckInt = first;
  b.LastCheckInt = last;
  return b;
}

FileDesc sampleDesc() {
  FileDesc desc(Date::fromLocalComponents(2024, 1, 31, 17, 5, 9), "/Users/user/Documents/report.pdf", 300000);
  FilePart part(desc.FileName, 300000);
  part.FileBlocks.push_back(block(0, std::string(64, 'A'), 256000, std::string(32, 'B'), 1, -2));
  part.FileBlocks.push_back(block(2, std::string(64, 'C'), 44000, std::string(32, 'D'), 3, 4));
  desc.FileParts.push_back(part);
  return desc;
}

TEST_F(VersionFileTest, WritesTheExactText) {
  std::string text = VersionFile::FormatFileVersionInfo(sampleDesc());
  EXPECT_EQ(text,
            "0|/Users/user/Documents/report.pdf|300000|20240131 17:05:09\n"
            "1|/Users/user/Documents/report.pdf|300000\n"
            "2:0:" +
                std::string(64, 'A') + ":256000:" + std::string(32, 'B') +
                ":1:-2\n"
                "2:2:" +
                std::string(64, 'C') + ":44000:" + std::string(32, 'D') + ":3:4");
  FileDesc empty;
  EXPECT_EQ(VersionFile::FormatFileVersionInfo(empty), "0||0|");
  FileDesc folder(Date::fromLocalComponents(2023, 12, 1, 0, 0, 0), "/home/u/folder", 0);
  EXPECT_EQ(VersionFile::FormatFileVersionInfo(folder), "0|/home/u/folder|0|20231201 00:00:00");
  FileDesc compound(Date::fromLocalComponents(2023, 12, 1, 0, 0, 0), "/d.docx", 10);
  compound.FileParts = {FilePart("word/document.xml", 6), FilePart("[Content_Types].xml", 4)};
  compound.FileParts[1].FileBlocks.push_back(block(0, "61626364", 4, "", 0, 0));
  EXPECT_EQ(VersionFile::FormatFileVersionInfo(compound),
            "0|/d.docx|10|20231201 00:00:00\n1|word/document.xml|6\n1|[Content_Types].xml|4\n2:0:61626364:4::0:0");
}

TEST_F(VersionFileTest, FractionalSecondsAreDropped) {
  FileDesc desc = sampleDesc();
  desc.LastChangedData = desc.LastChangedData->addingTimeInterval(0.75);
  auto back = VersionFile::ParseFileVersionInfo(VersionFile::FormatFileVersionInfo(desc));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->LastChangedData, Date::fromLocalComponents(2024, 1, 31, 17, 5, 9));
}

TEST_F(VersionFileTest, ReaderTolerances) {
  const std::string desc = "0|/a/b.txt|300|20240131 17:05:09";
  const std::string part = "1|/a/b.txt|300";
  const std::string blk = "2:9:AA:300:BB:1:2";
  struct Case {
    const char* what;
    std::string text;
    bool reads;
    std::vector<size_t> blocksPerPart;
  };
  const Case cases[] = {
      {"plain", desc + "\n" + part + "\n" + blk, true, {1}},
      {"trailing line feed", desc + "\n" + part + "\n" + blk + "\n", true, {1}},
      {"empty lines are skipped", desc + "\n\n" + part + "\n\n" + blk + "\n\n", true, {1}},
      {"description on the second line", part + "\n" + desc, true, {}},
      {"description found late, parts from line two", "junk\n" + part + "\n" + desc + "\n" + blk, true, {1}},
      {"unreadable part line ends parts",
       desc + "\n" + part + "\n" + blk + "\n1|short\n" + part + "\n" + blk,
       true,
       {1}},
      {"block before any part", desc + "\n" + blk + "\n" + part, true, {0}},
      {"unreadable block line skipped", desc + "\n" + part + "\n2:1:AA:300:BB:5\n" + blk, true, {1}},
      {"five-field block line", desc + "\n" + part + "\n2:7:ABCD:1000:EF01", true, {1}},
      {"unknown lines ignored", desc + "\n" + part + "\n# note\n3|x\n" + blk, true, {1}},
      {"two parts", desc + "\n" + part + "\n" + blk + "\n" + part + "\n" + blk + "\n" + blk, true, {1, 2}},
      {"carriage returns stay in the line", desc + "\r\n" + part + "\r\n" + blk + "\r\n", true, {1}},
      {"no description", part + "\n" + blk, false, {}},
      {"empty text", "", false, {}},
      {"three-field description", "0|/a|300", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto result = VersionFile::ParseFileVersionInfo(c.text);
    ASSERT_EQ(result.has_value(), c.reads);
    if (!c.reads) continue;
    ASSERT_EQ(result->FileParts.size(), c.blocksPerPart.size());
    for (size_t i = 0; i < c.blocksPerPart.size(); ++i) {
      EXPECT_EQ(result->FileParts[i].FileBlocks.size(), c.blocksPerPart[i]);
      for (size_t j = 0; j < result->FileParts[i].FileBlocks.size(); ++j) {
        EXPECT_EQ(result->FileParts[i].FileBlocks[j].position, static_cast<int64_t>(j));
      }
    }
  }
  EXPECT_NE(log().find("FromVerFileString exception: "), std::string::npos);
  EXPECT_NE(log().find("fromVerFile exception: "), std::string::npos);
}

TEST_F(VersionFileTest, DescriptionFields) {
  struct Case {
    const char* line;
    bool reads;
    const char* name;
    int64_t length;
    std::optional<Date> date;
  };
  const Case cases[] = {
      {"0|/a|5|20240131 17:05:09", true, "/a", 5, Date::fromLocalComponents(2024, 1, 31, 17, 5, 9)},
      {"0|/a|5|", true, "/a", 5, Date::distantPast()},
      {"0|/a|5|garbage", true, "/a", 5, std::nullopt},
      {"0|/a|-7x|", true, "/a", -7, Date::distantPast()},
      {"0|/a|x|", true, "/a", 0, Date::distantPast()},
      {"0|||", true, "", 0, Date::distantPast()},
      {"0|/a|b|c|5|20240131 17:05:09", true, "/a|b|c", 5, Date::fromLocalComponents(2024, 1, 31, 17, 5, 9)},
      {"0|/a|5", false, "", 0, std::nullopt},
      {"1|/a|5|", false, "", 0, std::nullopt},
      {"", false, "", 0, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    auto desc = FileDesc::FromVerFileString(c.line);
    ASSERT_EQ(desc.has_value(), c.reads);
    if (!c.reads) continue;
    EXPECT_EQ(desc->FileName, c.name);
    EXPECT_EQ(desc->Length, c.length);
    EXPECT_EQ(desc->LastChangedData, c.date);
    EXPECT_TRUE(desc->FileParts.empty());
  }
}

TEST_F(VersionFileTest, PartLineFields) {
  auto part = FilePart::FromVerFileString("1|word/document.xml|123|ignored|too");
  ASSERT_TRUE(part);
  EXPECT_EQ(part->PartName, "word/document.xml");
  EXPECT_EQ(part->Length, 123);
  EXPECT_FALSE(FilePart::FromVerFileString("1|only"));
  EXPECT_FALSE(FilePart::FromVerFileString("0|a|1|"));
  auto zero = FilePart::FromVerFileString("1||");
  ASSERT_TRUE(zero);
  EXPECT_EQ(zero->PartName, "");
  EXPECT_EQ(zero->Length, 0);
}

TEST_F(VersionFileTest, LibraryFilesAreThoseUnderHomeLibrary) {
  std::string home = Env::homeDirectory();
  struct Case {
    std::string name;
    bool library;
  };
  for (const Case& c : {Case{home + "/Library/Preferences/x.plist", true}, Case{home + "/Library", true},
                        Case{home + "/LibraryOld/x", true}, Case{home + "/Documents/Library/x", false},
                        Case{"/Library/x", false}, Case{"", false}}) {
    SCOPED_TRACE(c.name);
    FileDesc desc(std::nullopt, c.name, 0);
    EXPECT_EQ(desc.isLibraryFile(), c.library);
  }
}

}  // namespace
}  // namespace palvero
