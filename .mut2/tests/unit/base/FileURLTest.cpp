#include <gtest/gtest.h>

#include "base/FileURL.h"
#include "base/StringFormat.h"

namespace palvero {
namespace {

TEST(FileURLTest, EscapesAndRestoresEveryByte) {
  std::string path = "/home/a b/ünï%code/log0.log";
  path += '\xff';
  std::string url = FileURL::fromPath(path);
  EXPECT_EQ(url.rfind("file:///home/a%20b/%C3%BC", 0), 0u) << url;
  EXPECT_EQ(FileURL::toPath(url), path);
}

TEST(FileURLTest, RefusesOtherUrls) {
  EXPECT_FALSE(FileURL::toPath("http://x/y"));
  EXPECT_FALSE(FileURL::toPath("file://relative"));
  EXPECT_FALSE(FileURL::toPath(""));
}

TEST(StringFormatTest, FormatsLongTexts) {
  std::string big(10000, 'x');
  EXPECT_EQ(stringWithFormat("%s|%ld", big.c_str(), 42L), big + "|42");
  EXPECT_EQ(stringWithFormat("log%lld.log", 7LL), "log7.log");
}

}  // namespace
}  // namespace palvero
