// palvero-service's request readers through its own HTTP server: a body, as
// a URL-encoded form or as a multipart body, is sent over loopback to an
// in-process service (with or without a session), so that the library's
// parsing, the body reader with its limits and spooled parts, and the
// handler the fields name all see it.
//
// Input: one byte chooses the encoding (bit 0: multipart) and whether the
// request carries a session (bit 1); the rest is the body. Besides not
// crashing: every request gets an HTTP answer, and no answer is 500 (a
// handler that throws on what a client sent).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "FuzzHome.h"
#include "PasswordHash.h"
#include "Service.h"
#include "SqliteDb.h"
#include "base/Value.h"

using namespace palvero;

namespace {

constexpr const char* kBoundary = "PvFuzzBoundary";
int gPort = 0;
std::string gCookie;

// One request on a fresh connection; the whole answer, or "" when none came.
std::string exchange(const std::string& contentType, const std::string& body, const std::string& cookie) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {};
  timeval timeout{20, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  // Closed with a reset: tens of thousands of requests a minute would
  // otherwise leave every local port in TIME_WAIT and the next connect
  // would fail, which looks like a request the service never answered.
  linger reset{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(gPort));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  int connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  if (connected != 0) fuzz::fail(std::string("cannot connect to the service: ") + std::strerror(errno));
  {
    std::string request = "POST /server.php HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Type: " +
                          contentType + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    if (!cookie.empty()) request += "Cookie: PVSESSID=" + cookie + "\r\n";
    request += "\r\n" + body;
    size_t sent = 0;
    while (sent < request.size()) {
      ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return answer;
}

std::string bodyOf(const std::string& answer) {
  size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string& home = fuzz::FuzzHome::setUp();
  service::ServiceOptions options;
  options.dataDir = home + "/service";
  options.durable = false;
  options.workerThreads = 4;
  options.ioTimeoutSeconds = 5;
  static auto* served = new service::Service(options);
  served->context().metadata.addOrUpdateAccount("fuzz", "fuzz-pw", 5);
  {
    // A hash of one round: a login costs microseconds instead of a tenth of
    // a second under the sanitizers, and most inputs grown from the login
    // seeds still try one.
    service::SqliteDb db(options.dataDir + "/metadata.db");
    db.prepare("UPDATE accounts SET password = ? WHERE username = 'fuzz'")
        .bind(1, service::PasswordHash::make("fuzz-pw", 1))
        .run();
  }
  gPort = served->bind("127.0.0.1", 0);
  if (gPort <= 0) fuzz::fail("the service cannot listen");
  std::thread([] { served->serve(); }).detach();
  Value login = Value::parse(bodyOf(exchange("application/x-www-form-urlencoded",
                                             "request=register&username=fuzz&password=fuzz-pw", "")),
                             nullptr, false);
  std::string guid = login.value("ClientId", std::string());
  std::string password = login.value("Password", std::string());
  std::string answer =
      exchange("application/x-www-form-urlencoded", "request=auth&guid=" + guid + "&password=" + password, "");
  size_t at = answer.find("PVSESSID=");
  if (at == std::string::npos) fuzz::fail("no session: " + answer);
  gCookie = answer.substr(at + 9, answer.find_first_of(";\r", at) - at - 9);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto input = fuzz::Input::of(data, size);
  std::string contentType = input.selector & 1 ? std::string("multipart/form-data; boundary=") + kBoundary
                                               : std::string("application/x-www-form-urlencoded");
  std::string answer = exchange(contentType, std::string(input.rest), input.selector & 2 ? gCookie : "");
  if (answer.rfind("HTTP/1.1 ", 0) != 0) fuzz::fail("no answer to a request");
  if (answer.compare(9, 3, "500") == 0) fuzz::fail("the service failed on a request:\n" + answer);
  return 0;
}
