#include "ProtocolTestSupport.h"
#include "base/DispatchQueue.h"
#include "base/RunLoop.h"
#include "base/StdRunLoop.h"

namespace palvero::testing {
namespace {

struct DeleteCase {
  std::optional<std::string> path;
  int64_t size;
  std::optional<std::string> extension;
  bool immediately;
  std::string body;  // empty: nothing may be sent
};

void PrintTo(const DeleteCase& c, std::ostream* os) { *os << (c.body.empty() ? "nothing sent" : c.body); }

class DeletionFormTest : public ProtocolTest, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(DeletionFormTest, SendsExactlyOneCriterion) {
  const auto& c = GetParam();
  transport_->push(reply(200, "ok"));
  bool result = server_->syncDeleteVerFile(c.path, c.size, c.extension, c.immediately);
  if (c.body.empty()) {
    EXPECT_FALSE(result);
    EXPECT_EQ(transport_->count(), 0u);
  } else {
    EXPECT_TRUE(result);
    ASSERT_EQ(transport_->count(), 1u);
    EXPECT_EQ(transport_->sent()[0].body, c.body);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Criteria, DeletionFormTest,
    ::testing::Values(
        DeleteCase{"%2Fa%2Fb", 1000, ".jpg", true, "guid=GUID-1&request=delete&immediately=1&path=%2Fa%2Fb"},
        DeleteCase{std::nullopt, 1000, ".jpg", false, "guid=GUID-1&request=delete&immediately=0&size=1000"},
        DeleteCase{std::nullopt, 0, "%5B%22.jpg%22%5D", false,
                   "guid=GUID-1&request=delete&immediately=0&extension=%5B%22.jpg%22%5D"},
        DeleteCase{std::nullopt, -5, std::nullopt, false, "guid=GUID-1&request=delete&immediately=0&size=-5"},
        DeleteCase{std::nullopt, 0, std::nullopt, false, ""},
        // An empty path or extension is no criterion: it would read as "everything".
        DeleteCase{"", 0, "", true, ""},
        DeleteCase{"", 77, std::nullopt, true, "guid=GUID-1&request=delete&immediately=1&size=77"}));

TEST_F(ProtocolTest, DeletionFailures) {
  transport_->push(reply(200, "denied"));
  EXPECT_FALSE(server_->syncDeleteVerFile("%2Fa", 0, std::nullopt, false));
  EXPECT_TRUE(logLinesStartingWith("syncDeleteVerFile FAIL").empty());
  transport_->push(reply(500, "broken"));
  EXPECT_FALSE(server_->syncDeleteVerFile("%2Fa", 0, std::nullopt, false));
  EXPECT_EQ(logLinesStartingWith("syncDeleteVerFile FAIL"),
            std::vector<std::string>{"syncDeleteVerFile FAIL. File: %2Fa Response: broken with status code: 500"});
  EXPECT_EQ(transport_->count(), 2u);
}

TEST_F(ProtocolTest, DeletionRenewsTheSessionOnce) {
  transport_->push(reply(401, ""));
  transport_->push(authOk());
  transport_->push(reply(200, "ok"));
  EXPECT_TRUE(server_->syncDeleteVerFile(std::nullopt, 10, std::nullopt, false));
  EXPECT_EQ(transport_->kinds(), (std::vector<std::string>{"delete", "auth", "delete"}));
}

// --- Status reports ----------------------------------------------------------

class StatusReportTest : public ProtocolTest {
 protected:
  std::string sendAndCapture(const std::string& type, const std::string& description) {
    transport_->push(reply(200, "ok"));
    server_->sendStatus(type, description);
    DispatchQueue::global().waitUntilIdle();
    // The completion waits on the main loop; run it so the instance is freed.
    dynamic_cast<StdRunLoop&>(RunLoop::main()).runPending();
    return transport_->count() == 1 ? transport_->sent()[0].body : std::string();
  }
};

TEST_F(StatusReportTest, ProgressReportsCarryTheVersionBeforeTheDescription) {
  EXPECT_EQ(sendAndCapture("backupinprogress", "12 files left"),
            "request=status&guid=GUID-1&type=backupinprogress&desc=" + Env::applicationVersion() + "%3A+12+files+left");
}

TEST_F(StatusReportTest, TheEndReportCarriesTheDescriptionAlone) {
  EXPECT_EQ(sendAndCapture("backupend", "ERROR: 3 failed files"),
            "request=status&guid=GUID-1&type=backupend&desc=ERROR%3A+3+failed+files");
}

TEST_F(StatusReportTest, AFileNameCannotBreakTheForm) {
  EXPECT_EQ(sendAndCapture("backupError", "Some blocks were sent to server, but not saved for file /a&b+c%d"),
            "request=status&guid=GUID-1&type=backupError&desc=" + Env::applicationVersion() +
                "%3A+Some+blocks+were+sent+to+server%2C+but+not+saved+for+file+%2Fa%26b%2Bc%25d");
}

TEST_F(StatusReportTest, TheInstanceLivesUntilItsCompletionRan) {
  transport_->push(reply(200, "ok"));
  std::weak_ptr<CommunicationServer> weak = server_;
  server_->sendStatus("restorestart", "go");
  server_.reset();
  DispatchQueue::global().waitUntilIdle();
  EXPECT_FALSE(weak.expired());
  dynamic_cast<StdRunLoop&>(RunLoop::main()).runPending();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(transport_->count(), 1u);
}

}  // namespace
}  // namespace palvero::testing
