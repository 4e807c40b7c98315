// palvero daemon under a service manager: with NOTIFY_SOCKET set (as systemd
// sets it for Type=notify) it reports READY=1 once started and STOPPING=1 on
// SIGTERM, then ends with 0; not logged in, it ends with 2 and never reports
// ready (so systemd sees a failed start, and the unit's
// RestartPreventExitStatus keeps it from looping).
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include "CliFixture.h"

namespace palvero::testing {
namespace {

// A datagram socket standing in for systemd's notification socket.
class NotifySocket {
 public:
  NotifySocket() {
    char folder[] = "/tmp/palvero-notify-XXXXXX";
    if (!::mkdtemp(folder)) return;
    folder_ = folder;
    path_ = folder_ + "/notify";
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) path_.clear();
    ::setenv("NOTIFY_SOCKET", path_.c_str(), 1);
  }
  ~NotifySocket() {
    ::unsetenv("NOTIFY_SOCKET");
    if (fd_ >= 0) ::close(fd_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  bool ready() const { return !path_.empty(); }
  // The next message, or "" when none came within the timeout.
  std::string next(std::chrono::milliseconds timeout) {
    pollfd fd{fd_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) return "";
    char buffer[4096];
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
  }

 private:
  std::string folder_;
  std::string path_;
  int fd_ = -1;
};

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
