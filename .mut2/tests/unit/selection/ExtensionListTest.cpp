#include <gtest/gtest.h>

#include "selection/ExtensionList.h"

namespace palvero {
namespace {

TEST(ExtensionListTest, MatchesWholeEntriesOnly) {
  ExtensionList list(".wab~;.vmc;.vhd;.o;.tar.gz;.ISO;");
  struct Case {
    const char* name;
    bool matches;
  } cases[] = {
      {"main.c", false},                         // "c" is inside ".vmc;" but is no entry
      {"header.h", false},                       // likewise inside ".vhd;"
      {"disk.vmc", true},  {"DISK.VMC", false},  // callers lower-case the name first
      {"module.o", true},  {"photo.jpeg", false}, {"a.tar.gz", true}, {"a.gz", false},        {"image.iso", true},
      {"file.wab~", true}, {"vmc", false},        {".vmc", true},     {"noextension", false}, {"trailingdot.", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(list.matchesFileName(c.name), c.matches);
  }
}

TEST(ExtensionListTest, ParsingIsForgiving) {
  ExtensionList list(" .ISO ; cue;;.;.Bin;.iso;");
  EXPECT_EQ(list.entries(), (std::vector<std::string>{".iso", ".cue", ".bin"}));
  EXPECT_TRUE(list.containsEntry(".cue"));
  EXPECT_FALSE(list.containsEntry("cue"));
  EXPECT_TRUE(ExtensionList("").empty());
  EXPECT_TRUE(ExtensionList(";;").empty());
  EXPECT_EQ(ExtensionList(".ISO").entries(), (std::vector<std::string>{".iso"})) << "no trailing ';' needed";
}

TEST(ExtensionListTest, LowercasingKeepsNonAsciiBytes) {
  EXPECT_EQ(ExtensionList::asciiLowercase("AbC\xC3\x89\xFF"), "abc\xC3\x89\xFF");
}

}  // namespace
}  // namespace palvero
