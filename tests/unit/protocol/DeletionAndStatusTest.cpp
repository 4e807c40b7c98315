#include "ProtocolTestSupport.h"
#include "base/DispatchQueue.h"
#include "base/RunLoop.h"
#include "base/StdRunLoop.h"

namespace palvero::testing {
namespace {

TEST_F(ProtocolTest, ADeletionSendsExactlyOneCriterion) {
  struct Case {
    std::optional<std::string> path;
    int64_t size;
    std::optional<std::string> extension;
    bool immediately;
    std::string body;  // empty: nothing may be sent
  };
  for (const Case& c : {Case{"%2Fa%2Fb", 1000, ".jpg", true, "guid=GUID-1&request=delete&immediately=1&path=%2Fa%2Fb"},
                        Case{std::nullopt, -5, std::nullopt, false, "guid=GUID-1&request=delete&immediately=0&size=-5"},
                        Case{std::nullopt, 0, std::nullopt, false, ""},
                        // An empty path or extension is no criterion: it would read as "everything".
                        Case{"", 0, "", true, ""},
                        Case{"", 77, std::nullopt, true, "guid=GUID-1&request=delete&immediately=1&size=77"}}) {
    SCOPED_TRACE(c.body.empty() ? "nothing sent" : c.body);
    startOver();
    transport_->push(reply(200, "ok"));
    bool result = server_->syncDeleteVerFile(c.path, c.size, c.extension, c.immediately);
    EXPECT_EQ(result, !c.body.empty());
    EXPECT_EQ(transport_->count(), c.body.empty() ? 0u : 1u);
    if (!c.body.empty() && transport_->count() == 1) {
      EXPECT_EQ(transport_->sent()[0].body, c.body);
    }
  }
}

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
