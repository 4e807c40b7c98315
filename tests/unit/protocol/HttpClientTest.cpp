#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <stdexcept>
#include <vector>

#include "protocol/HttpClient.h"
#include "protocol/NetworkErrorManager.h"
#include "state/LocalSettings.h"
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
    ::testing::Values(
        CurlCase{CURLE_COULDNT_CONNECT, ECONNREFUSED, -1004, true},
        CurlCase{CURLE_COULDNT_CONNECT, ENETUNREACH, -1009, true},
        CurlCase{CURLE_COULDNT_CONNECT, ENETDOWN, -1009, true}, CurlCase{CURLE_COULDNT_RESOLVE_HOST, 0, -1006, true},
        CurlCase{CURLE_COULDNT_RESOLVE_PROXY, 0, -1006, true}, CurlCase{CURLE_RECV_ERROR, ECONNRESET, -1005, true},
        CurlCase{CURLE_SEND_ERROR, EPIPE, -1005, true}, CurlCase{CURLE_GOT_NOTHING, 0, -1005, true},
        CurlCase{CURLE_PARTIAL_FILE, 0, -1005, true}, CurlCase{CURLE_WEIRD_SERVER_REPLY, 0, -1011, true},
        // A timeout is a failed attempt, not an outage.
        CurlCase{CURLE_OPERATION_TIMEDOUT, 0, -1001, false}, CurlCase{CURLE_PEER_FAILED_VERIFICATION, 0, -1202, false},
        CurlCase{CURLE_SSL_CONNECT_ERROR, 0, -1200, false}, CurlCase{CURLE_URL_MALFORMAT, 0, -1000, false},
        CurlCase{CURLE_OUT_OF_MEMORY, 0, -1, false}, CurlCase{CURLE_OK, 0, 0, false}));

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

}  // namespace
}  // namespace palvero

#include "RawHttpServer.h"

namespace palvero {
namespace {

using testing::RawHttpServer;

std::string okReply(const std::string& body, const std::string& extraHeaders = "") {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

class HttpClientWireTest : public ::testing::Test {
 protected:
  // `body` must outlive the request.
  static HttpRequest requestTo(RawHttpServer& server, std::string_view body) {
    HttpRequest request;
    request.url = server.url();
    request.body = body;
    return request;
  }
  HttpResponse send(RawHttpServer& server, const std::string& body, HttpHeaders headers = {},
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(60000)) {
    HttpRequest request = requestTo(server, body);
    request.headers = std::move(headers);
    request.timeout = timeout;
    return client_.post(request);
  }
  testing::TempHome home_;
  HttpClient client_;
};

TEST_F(HttpClientWireTest, SendsTheHeadersAsGivenAnEmptyCookieAndNoExpect) {
  RawHttpServer server({{okReply("ok", "Set-Cookie: A=1; Path=/\r\nSet-Cookie: B=2\r\nZipped: True\r\n")}});
  std::string body(2 * 1024 * 1024, 'z');
  HttpResponse response = send(server, body, {{"User-Agent", "Palvero OS X Client / 9.9.9.9"}, {"Cookie", ""}});
  ASSERT_TRUE(response.completed()) << response.errorDescription;
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "ok");
  EXPECT_EQ(response.headerValues("set-cookie"), (std::vector<std::string>{"A=1; Path=/", "B=2"}));
  EXPECT_EQ(response.header("ZIPPED"), "True");
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string& raw = requests[0];
  std::string head = raw.substr(0, raw.find("\r\n\r\n") + 2);
  EXPECT_EQ(head.rfind("POST /server.php HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(head.find("\r\nUser-Agent: Palvero OS X Client / 9.9.9.9\r\n"), std::string::npos);
  EXPECT_NE(head.find("\r\nCookie:\r\n"), std::string::npos);
  EXPECT_EQ(head.find("Expect"), std::string::npos);
  EXPECT_NE(head.find("\r\nContent-Length: 2097152\r\n"), std::string::npos);
  EXPECT_EQ(raw.substr(raw.find("\r\n\r\n") + 4), body);
}

TEST_F(HttpClientWireTest, KeepsTheConnectionOpenBetweenRequests) {
  RawHttpServer server({{okReply("one")}, {okReply("two")}, {okReply("three")}});
  for (const char* expected : {"one", "two", "three"}) EXPECT_EQ(send(server, "x").body, expected);
  EXPECT_EQ(server.connections(), 1);
}

struct BrokenReply {
  std::string name;
  RawHttpServer::Answer answer;
  int expected;
};

void PrintTo(const BrokenReply& c, std::ostream* os) { *os << c.name; }

class BrokenReplyTest : public HttpClientWireTest, public ::testing::WithParamInterface<BrokenReply> {};

TEST_P(BrokenReplyTest, IsATransportError) {
  RawHttpServer server({GetParam().answer});
  HttpResponse response = send(server, "request=ping", {}, std::chrono::milliseconds(500));
  EXPECT_FALSE(response.completed());
  EXPECT_EQ(response.errorCode, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, BrokenReplyTest,
    ::testing::Values(BrokenReply{"ClosedWithoutAnswer", {"", true, 0}, kNetworkErrorConnectionLost},
                      BrokenReply{"CutShort",
                                  {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort", true, 0},
                                  kNetworkErrorConnectionLost},
                      BrokenReply{"NoAnswerInTime", {"", false, 3000}, kNetworkErrorTimedOut},
                      BrokenReply{"SlowBody", {okReply("late"), false, 1500}, kNetworkErrorTimedOut}),
    [](const auto& testInfo) { return testInfo.param.name; });

// A reply longer than the request allows ends the exchange cleanly: never
// reserved up front, never held, not an outage.
class OversizedReplyTest : public HttpClientWireTest, public ::testing::WithParamInterface<BrokenReply> {};

TEST_P(OversizedReplyTest, IsRefusedWithoutHoldingIt) {
  RawHttpServer server({GetParam().answer});
  HttpRequest request = requestTo(server, "request=get_block");
  request.maxResponseBytes = 64 * 1024;
  HttpResponse response = client_.post(request);
  EXPECT_FALSE(response.completed());
  EXPECT_EQ(response.errorCode, kNetworkErrorDataLengthExceedsMaximum);
  EXPECT_TRUE(response.body.empty());
  EXPECT_EQ(response.body.capacity() < 64 * 1024, true) << "nothing reserved for the announced length";
  EXPECT_FALSE(NetworkErrorManager::sharedErrorManager().isNetworkAlive(response.errorCode));
}

std::string chunked(size_t total) {
  std::string out = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (size_t sent = 0; sent < total; sent += 4096) out += "1000\r\n" + std::string(4096, 'c') + "\r\n";
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, OversizedReplyTest,
    ::testing::Values(
        BrokenReply{"LyingContentLength", {"HTTP/1.1 200 OK\r\nContent-Length: 1073741824\r\n\r\nabc", true, 0}, 0},
        BrokenReply{"EndlessBodyWithoutLength", {"HTTP/1.0 200 OK\r\n\r\n" + std::string(1 << 20, 'e'), true, 0}, 0},
        BrokenReply{"EndlessChunkedBody", {chunked(1 << 20), true, 0}, 0},
        BrokenReply{"EndlessHeaders",
                    {"HTTP/1.1 200 OK\r\n" + [] {
                       std::string headers;
                       for (int i = 0; i < 20000; ++i) headers += "X-Filler-" + std::to_string(i) + ": value\r\n";
                       return headers;
                     }() + "Content-Length: 2\r\n\r\nok",
                     true, 0},
                    0}),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST_F(HttpClientWireTest, AReplyWithinTheLimitIsReadWhole) {
  std::string body(64 * 1024, 'b');
  RawHttpServer server({{okReply(body)}});
  HttpRequest request = requestTo(server, "x");
  request.maxResponseBytes = body.size();
  HttpResponse response = client_.post(request);
  ASSERT_TRUE(response.completed()) << response.errorDescription;
  EXPECT_EQ(response.body, body);
}

// Proxy type 0 means no proxy at all, not the environment's; type 1 is the
// environment's.
TEST_F(HttpClientWireTest, ProxyTypeNoneIgnoresTheEnvironmentsProxy) {
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
  for (const char* name : {"http_proxy", "HTTP_PROXY", "no_proxy", "NO_PROXY"}) {
    const char* value = std::getenv(name);
    saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    ::unsetenv(name);
  }
  const std::string deadProxy = "http://127.0.0.1:" + std::to_string(closedPort());
  ::setenv("http_proxy", deadProxy.c_str(), 1);
  for (int32_t type : {0, 1}) {
    SCOPED_TRACE(type);
    LocalSettings::sharedManager().setProxyType(type);
    RawHttpServer server({{okReply("direct")}});
    HttpResponse response = send(server, "x");
    if (type == 0) {
      EXPECT_EQ(response.body, "direct") << response.errorDescription;
    } else {
      EXPECT_EQ(response.errorCode, kNetworkErrorCannotConnectToHost) << "sent to the proxy";
    }
  }
  for (const auto& [name, value] : saved) {
    value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
  }
}

}  // namespace
}  // namespace palvero

namespace palvero {
namespace {

// The upload limit sees every piece of a body before it goes out.
TEST_F(HttpClientWireTest, ABodyAnnouncedPieceByPieceArrivesWhole) {
  RawHttpServer server({{okReply("ok")}});
  std::string body(300 * 1024 + 7, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 131) % 251);
  std::vector<size_t> pieces;
  HttpRequest request = requestTo(server, body);
  request.beforeSending = [&pieces](size_t bytes) { pieces.push_back(bytes); };
  HttpResponse response = client_.post(request);
  ASSERT_TRUE(response.completed()) << response.errorDescription;
  EXPECT_EQ(response.body, "ok");
  size_t total = 0;
  for (size_t piece : pieces) {
    EXPECT_GT(piece, 0u);
    EXPECT_LE(piece, 16u * 1024);
    total += piece;
  }
  EXPECT_EQ(total, body.size());
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
  EXPECT_EQ(requests[0].substr(requests[0].find("\r\n\r\n") + 4), body);
}

TEST_F(HttpClientWireTest, AFailingAnnouncementEndsTheExchangeWithoutThrowing) {
  RawHttpServer server({{okReply("never")}});
  std::string body(100 * 1024, 'q');
  HttpRequest request = requestTo(server, body);
  int calls = 0;
  request.beforeSending = [&calls](size_t) {
    if (++calls == 3) throw std::runtime_error("stop");
  };
  HttpResponse response = client_.post(request);
  EXPECT_EQ(response.errorCode, kNetworkErrorCancelled);
  EXPECT_TRUE(response.body.empty());
  EXPECT_EQ(calls, 3);
}

}  // namespace
}  // namespace palvero
