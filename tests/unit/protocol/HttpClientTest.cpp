#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "protocol/HttpClient.h"
#include "protocol/NetworkErrorManager.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

struct CurlCase {
  int curl;
  long osErrno;
  int expected;
  bool outage;
};

void PrintTo(const CurlCase& c, std::ostream* os) { *os << "CURLcode " << c.curl << " errno " << c.osErrno; }

class CurlMappingTest : public ::testing::TestWithParam<CurlCase> {};

TEST_P(CurlMappingTest, MapsOntoThePlatformCodes) {
  int code = HttpClient::errorCodeForCurl(GetParam().curl, GetParam().osErrno);
  EXPECT_EQ(code, GetParam().expected);
  EXPECT_EQ(NetworkErrorManager::sharedErrorManager().isNetworkAlive(code), GetParam().outage);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, CurlMappingTest,
    ::testing::Values(CurlCase{CURLE_COULDNT_CONNECT, ECONNREFUSED, -1004, true},
                      CurlCase{CURLE_COULDNT_CONNECT, ENETUNREACH, -1009, true},
                      CurlCase{CURLE_COULDNT_CONNECT, ENETDOWN, -1009, true},
                      CurlCase{CURLE_COULDNT_RESOLVE_HOST, 0, -1006, true},
                      CurlCase{CURLE_COULDNT_RESOLVE_PROXY, 0, -1006, true},
                      CurlCase{CURLE_RECV_ERROR, ECONNRESET, -1005, true}, CurlCase{CURLE_SEND_ERROR, EPIPE, -1005, true},
                      CurlCase{CURLE_GOT_NOTHING, 0, -1005, true}, CurlCase{CURLE_PARTIAL_FILE, 0, -1005, true},
                      CurlCase{CURLE_WEIRD_SERVER_REPLY, 0, -1011, true},
                      // A timeout is a failed attempt, not an outage.
                      CurlCase{CURLE_OPERATION_TIMEDOUT, 0, -1001, false},
                      CurlCase{CURLE_PEER_FAILED_VERIFICATION, 0, -1202, false},
                      CurlCase{CURLE_SSL_CONNECT_ERROR, 0, -1200, false},
                      CurlCase{CURLE_URL_MALFORMAT, 0, -1000, false}, CurlCase{CURLE_OUT_OF_MEMORY, 0, -1, false},
                      CurlCase{CURLE_OK, 0, 0, false}));

// A port on loopback that nothing listens on.
int closedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

TEST(HttpClientTest, ARefusedConnectionIsCannotConnect) {
  testing::TempHome home;
  HttpClient client;
  HttpRequest request;
  std::string url = "http://127.0.0.1:" + std::to_string(closedPort()) + "/server.php";
  request.url = url;
  request.body = "request=ping";
  HttpResponse response = client.post(request);
  EXPECT_FALSE(response.completed());
  EXPECT_EQ(response.errorCode, kNetworkErrorCannotConnectToHost);
  EXPECT_EQ(response.status, 0);
  EXPECT_FALSE(response.errorDescription.empty());
}

TEST(HttpClientTest, AMalformedAddressIsNotAnOutage) {
  testing::TempHome home;
  HttpClient client;
  HttpRequest request;
  request.url = "ht!tp://[broken";
  HttpResponse response = client.post(request);
  EXPECT_FALSE(response.completed());
  EXPECT_FALSE(NetworkErrorManager::sharedErrorManager().isNetworkAlive(response.errorCode));
}

}  // namespace
}  // namespace palvero
