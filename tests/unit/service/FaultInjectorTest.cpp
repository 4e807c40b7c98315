#include <gtest/gtest.h>

#include "FaultInjector.h"

namespace palvero::service {
namespace {

struct RuleCase {
  std::string text;
  bool valid;
  std::string describe;  // of the action, when valid
  int64_t remaining;
  int64_t skip;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.text; }

class FaultRuleParseTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(FaultRuleParseTest, ParsesOrRefuses) {
  std::string error;
  auto rule = FaultInjector::parse(GetParam().text, &error);
  ASSERT_EQ(rule.has_value(), GetParam().valid) << error;
  if (!rule) {
    EXPECT_FALSE(error.empty());
    return;
  }
  EXPECT_EQ(rule->action.describe(), GetParam().describe);
  EXPECT_EQ(rule->remaining, GetParam().remaining);
  EXPECT_EQ(rule->skip, GetParam().skip);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FaultRuleParseTest,
    ::testing::Values(RuleCase{"get_block:429", true, "429", 1, 0}, RuleCase{"get_block:429:3", true, "429", 3, 0},
                      RuleCase{"*:503:always", true, "503", -1, 0}, RuleCase{"ping:drop", true, "drop", 1, 0},
                      RuleCase{"ping:reset:2", true, "reset", 2, 0},
                      RuleCase{"ping:delay=1500", true, "delay=1500", 1, 0},
                      RuleCase{"check_block:malformed:1:skip=2", true, "malformed", 1, 2},
                      RuleCase{"upload_ver:401:skip=1", true, "401", 1, 1},
                      RuleCase{"register_device:body=%7B%22Pass%22%3A%22x%22%7D:2", true, R"(body={"Pass":"x"})", 2, 0},
                      RuleCase{"", false, "", 0, 0}, RuleCase{"ping", false, "", 0, 0},
                      RuleCase{":503", false, "", 0, 0}, RuleCase{"ping:200", false, "", 0, 0},
                      RuleCase{"ping:600", false, "", 0, 0}, RuleCase{"ping:explode", false, "", 0, 0},
                      RuleCase{"ping:delay=", false, "", 0, 0}, RuleCase{"ping:delay=-5", false, "", 0, 0},
                      RuleCase{"ping:503:0", false, "", 0, 0}, RuleCase{"ping:503:x", false, "", 0, 0},
                      RuleCase{"ping:503:1:skip=y", false, "", 0, 0}, RuleCase{"ping:503:1:2:3", false, "", 0, 0}));

std::vector<std::string> takeMany(FaultInjector& faults, const std::string& kind, int count) {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) {
    auto action = faults.take(kind);
    out.push_back(action ? action->describe() : "-");
  }
  return out;
}

TEST(FaultInjectorTest, ARuleAppliesToItsNextRequestsThenGoes) {
  FaultInjector faults;
  faults.add(*FaultInjector::parse("get_block:429:2"));
  EXPECT_EQ(takeMany(faults, "ping", 1), std::vector<std::string>{"-"});
  EXPECT_EQ(takeMany(faults, "get_block", 3), (std::vector<std::string>{"429", "429", "-"}));
  EXPECT_EQ(faults.ruleCount(), 0u);
}

TEST(FaultInjectorTest, SkipLetsRequestsThroughFirst) {
  FaultInjector faults;
  faults.add(*FaultInjector::parse("upload_ver:401:1:skip=2"));
  EXPECT_EQ(takeMany(faults, "upload_ver", 4), (std::vector<std::string>{"-", "-", "401", "-"}));
}

TEST(FaultInjectorTest, RulesApplyInOrderAndWildcardsMatchEveryKind) {
  FaultInjector faults;
  faults.add(*FaultInjector::parse("ping:drop"));
  faults.add(*FaultInjector::parse("*:503:always"));
  EXPECT_EQ(takeMany(faults, "ping", 3), (std::vector<std::string>{"drop", "503", "503"}));
  EXPECT_EQ(takeMany(faults, "auth", 1), std::vector<std::string>{"503"});
  faults.clear();
  EXPECT_EQ(takeMany(faults, "auth", 1), std::vector<std::string>{"-"});
}

TEST(FaultInjectorTest, ASkippingRuleLetsALaterRuleApply) {
  FaultInjector faults;
  faults.add(*FaultInjector::parse("ping:500:1:skip=1"));
  faults.add(*FaultInjector::parse("ping:502"));
  EXPECT_EQ(takeMany(faults, "ping", 3), (std::vector<std::string>{"502", "500", "-"}));
}

}  // namespace
}  // namespace palvero::service
