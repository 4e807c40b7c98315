#include "ConnectionDropper.h"

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace palvero::service {
namespace {

int portOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  return -1;
}

bool matches(int fd, int localPort, int remotePort) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
  sockaddr_storage local{};
  sockaddr_storage peer{};
  socklen_t localSize = sizeof local;
  socklen_t peerSize = sizeof peer;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0) return false;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0) return false;
  return portOf(local) == localPort && portOf(peer) == remotePort;
}

}  // namespace

bool cutConnection(int localPort, int remotePort, CutMode mode) {
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return false;
  int found = -1;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    int fd = std::atoi(entry->d_name);
    if (fd != ::dirfd(dir) && matches(fd, localPort, remotePort)) {
      found = fd;
      break;
    }
  }
  ::closedir(dir);
  if (found < 0) return false;
  if (mode == CutMode::kReset) {
    linger abortive{1, 0};
    ::setsockopt(found, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  } else {
    ::shutdown(found, SHUT_RDWR);
  }
  int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0) return false;
  // dup2 closes the socket (sending the FIN or, with zero linger, the RST)
  // and leaves the descriptor number valid for the server library.
  bool ok = ::dup2(null, found) >= 0;
  ::close(null);
  return ok;
}

}  // namespace palvero::service
