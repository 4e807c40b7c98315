#include <gtest/gtest.h>

#include "base/JsonText.h"

namespace palvero {
namespace {

TEST(JsonTextTest, NestingIsCountedOutsideStringsOnly) {
  struct Case {
    std::string text;
    size_t maxDepth;
    bool within;
  };
  for (const Case& c : {Case{"[[1]]", 2, true}, Case{"[[1]]", 1, false}, Case{R"({"a":{"b":[]}})", 3, true},
                        Case{R"({"a":{"b":[]}})", 2, false}, Case{R"(["[[[[[[", "\"[[[["])", 1, true},
                        Case{R"(["\\", [[]]])", 2, false}, Case{"]]]][", 1, true}, Case{"", 0, true}}) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(jsonDepthWithin(c.text, c.maxDepth), c.within);
  }
}

TEST(JsonTextTest, ADocumentNestedTooDeepIsRefusedInsteadOfParsed) {
  // Parsed, a million levels would overflow the stack when the value is
  // copied or written.
  std::string deep = std::string(1000000, '[') + std::string(1000000, ']');
  EXPECT_TRUE(parseJson(deep).is_discarded());
  std::string atLimit = std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']');
  Value value = parseJson(atLimit);
  ASSERT_FALSE(value.is_discarded());
  Value copy = value;
  EXPECT_EQ(copy.dump(), atLimit);
  EXPECT_TRUE(parseJson(std::string(kMaxJsonDepth + 1, '[') + std::string(kMaxJsonDepth + 1, ']')).is_discarded());
}

TEST(JsonTextTest, TextThatIsNoJsonIsDiscarded) {
  for (const char* text : {"", "{", "[1,]", "ok", "{\"a\":1} trailing"}) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(parseJson(text).is_discarded());
  }
  EXPECT_EQ(parseJson(R"({"a":[1,"]"]})")["a"][1], "]");
}

TEST(JsonTextTest, OnlyWellFormedUtf8CountsAsUtf8) {
  for (const char* good : {"", "plain", "caf\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xf4\x8f\xbf\xbf"}) {
    SCOPED_TRACE(good);
    EXPECT_TRUE(isUtf8(good));
  }
  // Latin-1, a cut sequence, overlong forms, a surrogate, past U+10FFFF, a lone continuation.
  for (const char* bad : {"caf\xe9", "\xc3", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80",
                          "\x80", "\xf0\x9f\x98"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(isUtf8(bad));
  }
}

TEST(JsonTextTest, ArrayElementsAreHandedOverOneByOneAndAFaultySourceIsRefused) {
  std::vector<std::string> seen;
  auto collect = [&](const Value& element) { seen.push_back(element.dump()); };
  EXPECT_TRUE(forEachJsonArrayElement(R"([{"name":"a","v":[1,{"x":2}]}, 7, "s", [], {}])", collect));
  EXPECT_EQ(seen, (std::vector<std::string>{R"({"name":"a","v":[1,{"x":2}]})", "7", "\"s\"", "[]", "{}"}));
  for (const char* text : {R"({"a":[1,2]})", "[1, 2", "[1,]", "3", "", "[1] [2]"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(forEachJsonArrayElement(text, [](const Value&) {}));
  }
  EXPECT_FALSE(forEachJsonArrayElement(std::string(kMaxJsonDepth + 1, '[') + std::string(kMaxJsonDepth + 1, ']'),
                                       [](const Value&) {}));
}

}  // namespace
}  // namespace palvero
