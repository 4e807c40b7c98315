// palvero daemon under a service manager: with NOTIFY_SOCKET set (as systemd
// sets it for Type=notify) it reports READY=1 once started and STOPPING=1 on
// SIGTERM, then ends with 0; not logged in, it ends with 2 and never reports
// ready (so systemd sees a failed start, and the unit's
// RestartPreventExitStatus keeps it from looping).
#include "CliFixture.h"
#include "NotifySocket.h"

namespace palvero::testing {
namespace {

class CliDaemonTest : public CliFixture {};

TEST_F(CliDaemonTest, ReadyAfterStartStoppingOnSigtermExitZero) {
  NotifySocket manager;
  ASSERT_TRUE(manager.ready());
  CliResult early = run({"daemon"});
  EXPECT_EQ(early.code, 2) << early.err;
  EXPECT_EQ(manager.next(std::chrono::milliseconds(200)), "") << "not ready when it cannot run";

  ASSERT_EQ(login({"--new-device", "served"}).code, 0);
  pid_t daemon = start({"daemon"});
  std::string ready = manager.next(std::chrono::seconds(30));
  EXPECT_NE(ready.find("READY=1"), std::string::npos) << ready;
  EXPECT_NE(ready.find("STATUS="), std::string::npos) << ready;
  ASSERT_EQ(::kill(daemon, SIGTERM), 0);
  std::string stopping = manager.next(std::chrono::seconds(30));
  EXPECT_EQ(stopping, "STOPPING=1");
  CliResult stopped = finish(daemon);
  EXPECT_EQ(stopped.code, 0) << stopped.err;
}

}  // namespace
}  // namespace palvero::testing
