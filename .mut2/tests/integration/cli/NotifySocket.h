// A datagram socket standing in for systemd's notification socket: set as
// NOTIFY_SOCKET for the processes the test starts, it receives what a
// daemon tells its service manager (READY=1 once it watches for changes).
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace palvero::testing {

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

}  // namespace palvero::testing
