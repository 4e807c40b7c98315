#include "ProtocolTestSupport.h"
#include "support/AsyncWork.h"

namespace palvero::testing {
namespace {

using StatisticsRequestsTest = ProtocolTest;

TEST_F(StatisticsRequestsTest, NoStatisticIsAnEmptyMapAndNoFailure) {
  for (const char* body : {R"({"statistic":[]})", "{}"}) {
    SCOPED_TRACE(body);
    transport_->push(reply(200, body));
    auto sizes = server_->getStatisticByCategories();
    ASSERT_TRUE(sizes);
    EXPECT_TRUE(sizes->empty());
  }
  EXPECT_TRUE(loggedTexts().empty());
}

TEST_F(StatisticsRequestsTest, FailuresGiveNothing) {
  transport_->push(reply(500, "boom"));
  EXPECT_FALSE(server_->getStatisticByCategories());
  EXPECT_EQ(logLinesStartingWith("getStatisticByCategories FAIL"),
            std::vector<std::string>{"getStatisticByCategories FAIL. Response: boom with status code: 500"});
  transport_->push(reply(200, "statistic"));
  EXPECT_FALSE(server_->getStatisticByCategories());
  EXPECT_EQ(logLinesStartingWith("Exception in method getStatisticsByCategories").size(), 1u);
  EXPECT_EQ(transport_->count(), 2u);
}

TEST_F(StatisticsRequestsTest, ARefusedSessionIsRenewedAndAskedAgain) {
  transport_->push(reply(401, ""));
  transport_->push(authOk());
  transport_->push(reply(200, R"({"statistic":[{"name":"email","size":1}]})"));
  auto sizes = server_->getStatisticByCategories();
  ASSERT_TRUE(sizes);
  EXPECT_EQ(sizes->at("email"), 1);
  EXPECT_EQ(transport_->kinds(),
            (std::vector<std::string>{"get_statistic_by_categories", "auth", "get_statistic_by_categories"}));
}

TEST_F(StatisticsRequestsTest, TheOtherCategoryIsSentAsOthers) {
  struct Case {
    std::string category;
    std::string sent;
  };
  for (const Case& c :
       {Case{"Other", "others"}, Case{"other", "others"}, Case{"music", "music"}, Case{"Music", "Music"}}) {
    SCOPED_TRACE(c.category);
    transport_->push(reply(200, R"([{"name":"/home/ann/big.iso","size":4000000000}])"));
    auto top = server_->getTop10Files(c.category, 2);
    ASSERT_TRUE(top);
    EXPECT_EQ((*top)[0]["size"], 4000000000LL);
    EXPECT_EQ(transport_->sent().back().body, "request=get_top10&guid=GUID-1&category=" + c.sent + "&page=2");
  }
}

TEST_F(StatisticsRequestsTest, ATopTenFailureIsNotRetried) {
  transport_->push(reply(500, "boom"));
  transport_->push(reply(200, "[]"));
  EXPECT_FALSE(server_->getTop10Files("Other", 0));
  EXPECT_EQ(transport_->count(), 1u);
  EXPECT_EQ(logLinesStartingWith("Get top 10 Files FAIL"),
            std::vector<std::string>{
                "Get top 10 Files FAIL. Category: others. Page: 0. Response: boom with status code: 500"});
}

TEST_F(StatisticsRequestsTest, AFailedSupportRequestKeepsTheContact) {
  LocalSettings::sharedManager().setSupport("Old desk");
  for (const auto& answer : {reply(500, "boom"), reply(200, "not json"), reply(200, "[1]")}) {
    SCOPED_TRACE(describe(answer));
    NotificationLog log(server_.get(), {"GetSupportInfoOK", "GetSupportInfoFail"});
    transport_->push(answer);
    server_->getSupportInfo();
    settleAsyncWork();
    EXPECT_EQ(log.names(), std::vector<std::string>{"GetSupportInfoFail"});
  }
  EXPECT_EQ(LocalSettings::sharedManager().support(), "Old desk");
}

}  // namespace
}  // namespace palvero::testing
