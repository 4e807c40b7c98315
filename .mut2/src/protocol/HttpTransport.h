// One HTTP POST and its outcome, and the seam through which the request layer
// sends it: HttpClient (libcurl) in the product, a scripted transport in unit
// tests.
//
// Thread contract: an HttpTransport implementation must accept post() from
// several threads at once.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace palvero {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::string url;
  // Not owned: the sender keeps the bytes alive until post() returns.
  std::string_view body;
  // Sent in this order. A header with an empty value is sent empty ("Cookie:")
  // rather than left out.
  HttpHeaders headers;
  std::chrono::milliseconds timeout{60000};
  // The largest reply body accepted. A longer one, or one announced longer
  // by its Content-Length, ends the exchange with
  // kNetworkErrorDataLengthExceedsMaximum and an empty body.
  size_t maxResponseBytes = 4 * 1024 * 1024;
  // When set, called with the size of each piece of the body just before
  // it goes to the network; it may block (the upload limit) and must not
  // throw.
  std::function<void(size_t)> beforeSending;
};

struct HttpResponse {
  // 0 when no status line arrived.
  long status = 0;
  std::string body;
  // Every header line of the final response, in order (several Set-Cookie).
  HttpHeaders headers;
  // 0 when the exchange completed; otherwise the transport error mapped onto
  // the platform codes of NetworkErrorManager (-1004 cannot connect, -1001
  // timed out, ...). A body cut short counts as a transport error.
  int errorCode = 0;
  std::string errorDescription;

  bool completed() const { return errorCode == 0; }
  // The first header of that name (case-insensitive), or nothing.
  std::optional<std::string> header(std::string_view name) const;
  // Every header of that name, in order.
  std::vector<std::string> headerValues(std::string_view name) const;
};

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  // Sends synchronously and blocks for the whole exchange (at most the
  // request's timeout). Never throws.
  virtual HttpResponse post(const HttpRequest& request) = 0;
};

}  // namespace palvero
