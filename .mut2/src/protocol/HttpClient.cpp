#include "protocol/HttpClient.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "protocol/NetworkErrorManager.h"
#include "state/LocalSettings.h"

namespace palvero {
namespace {

// Idle handles kept for reuse; more are made when more threads send at once.
constexpr size_t kMaxIdleHandles = 4;

// Settings proxy types: 0 no proxy at all, 1 the system proxy (the
// environment), 2 and 3 a proxy of their own.
constexpr int32_t kProxyTypeNone = 0;
constexpr int32_t kProxyTypeHttp = 2;
constexpr int32_t kProxyTypeSocks = 3;

void initialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

bool append(Slist& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (!grown) return false;
  (void)list.release();
  list.reset(grown);
  return true;
}

// Where the callbacks put the reply. They run inside libcurl's C code, so
// nothing may be thrown out of them: a failure is noted here and the
// transfer is stopped by answering a short count.
struct ReplySink {
  HttpHeaders* headers;
  std::string* body;
  size_t maxBody;
  size_t headerBytes = 0;
  bool tooLarge = false;
  bool failed = false;
};

// Headers beyond this are a broken or hostile server.
constexpr size_t kMaxHeaderBytes = 256 * 1024;

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<ReplySink*>(user);
  const size_t bytes = size * count;
  if (bytes > sink->maxBody - std::min(sink->maxBody, sink->body->size())) {
    sink->tooLarge = true;
    return 0;
  }
  try {
    sink->body->append(data, bytes);
  } catch (...) {
    sink->failed = true;
    return 0;
  }
  return bytes;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<ReplySink*>(user);
  const size_t bytes = size * count;
  sink->headerBytes += bytes;
  if (sink->headerBytes > kMaxHeaderBytes) {
    sink->tooLarge = true;
    return 0;
  }
  try {
    std::string_view line(data, bytes);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    // A new status line (after "100 Continue" or a proxy's CONNECT reply)
    // starts the headers of the next response.
    if (line.substr(0, 5) == "HTTP/") {
      sink->headers->clear();
      return bytes;
    }
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return bytes;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    std::string name(line.substr(0, colon));
    if (strcasecmp(name.c_str(), "Content-Length") == 0) {
      // The announced length is only a hint: a lie within the limit costs
      // no more than the limit, one beyond it ends the exchange at once.
      uint64_t length = 0;
      auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), length);
      if (ec == std::errc() && length > sink->maxBody) {
        sink->tooLarge = true;
        return 0;
      }
      if (ec == std::errc()) sink->body->reserve(static_cast<size_t>(length));
    }
    sink->headers->emplace_back(std::move(name), std::string(value));
  } catch (...) {
    sink->failed = true;
    return 0;
  }
  return bytes;
}

// The body handed to libcurl piece by piece, each piece announced first
// (the upload limit may hold it back).
struct BodySource {
  std::string_view body;
  const std::function<void(size_t)>* beforeSending;
  size_t offset = 0;
};

constexpr size_t kBodyPieceBytes = 16 * 1024;

size_t onRead(char* buffer, size_t size, size_t count, void* user) {
  auto* source = static_cast<BodySource*>(user);
  size_t piece = std::min({size * count, source->body.size() - source->offset, kBodyPieceBytes});
  if (piece == 0) return 0;
  try {
    (*source->beforeSending)(piece);
  } catch (...) {
    return CURL_READFUNC_ABORT;
  }
  std::memcpy(buffer, source->body.data() + source->offset, piece);
  source->offset += piece;
  return piece;
}

// libcurl rewinds the body when it sends it again (a dead keep-alive
// connection, a redirect).
int onSeek(void* user, curl_off_t offset, int origin) {
  auto* source = static_cast<BodySource*>(user);
  if (origin != SEEK_SET || offset < 0 || static_cast<size_t>(offset) > source->body.size()) {
    return CURL_SEEKFUNC_CANTSEEK;
  }
  source->offset = static_cast<size_t>(offset);
  return CURL_SEEKFUNC_OK;
}

void applyProxy(CURL* curl) {
  auto& settings = LocalSettings::sharedManager();
  int32_t type = settings.proxyType();
  std::string server = settings.proxyServer().value_or("");
  if (type == kProxyTypeNone) {
    // The empty text switches proxies off, the environment's too.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    return;
  }
  if ((type != kProxyTypeHttp && type != kProxyTypeSocks) || server.empty()) {
    // nullptr restores libcurl's default: the proxy of the environment.
    curl_easy_setopt(curl, CURLOPT_PROXY, nullptr);
    return;
  }
  curl_easy_setopt(curl, CURLOPT_PROXY, server.c_str());
  curl_easy_setopt(curl, CURLOPT_PROXYTYPE,
                   static_cast<long>(type == kProxyTypeSocks ? CURLPROXY_SOCKS5_HOSTNAME : CURLPROXY_HTTP));
  std::string port = settings.proxyPort().value_or("");
  long portNumber = 0;
  auto [ptr, ec] = std::from_chars(port.data(), port.data() + port.size(), portNumber);
  if (ec == std::errc() && portNumber > 0 && portNumber < 65536) curl_easy_setopt(curl, CURLOPT_PROXYPORT, portNumber);
  std::string user = settings.proxyUsername().value_or("");
  if (!user.empty()) {
    curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, user.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, settings.proxyPassword().value_or("").c_str());
  }
}

}  // namespace

class HttpClient::Handle {
 public:
  Handle() : curl_(curl_easy_init()) {}
  ~Handle() {
    if (curl_) curl_easy_cleanup(curl_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  CURL* get() const { return curl_; }

 private:
  CURL* curl_;
};

HttpClient::HttpClient() { initialiseCurlOnce(); }

HttpClient::~HttpClient() = default;

std::unique_ptr<HttpClient::Handle> HttpClient::acquire() {
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      auto handle = std::move(idle_.back());
      idle_.pop_back();
      return handle;
    }
  }
  return std::make_unique<Handle>();
}

void HttpClient::release(std::unique_ptr<Handle> handle) {
  std::lock_guard lock(mutex_);
  if (idle_.size() < kMaxIdleHandles) idle_.push_back(std::move(handle));
}

HttpResponse HttpClient::post(const HttpRequest& request) {
  try {
    return perform(request);
  } catch (const std::exception& e) {
    HttpResponse response;
    response.errorCode = kNetworkErrorUnknown;
    response.errorDescription = e.what();
    return response;
  }
}

HttpResponse HttpClient::perform(const HttpRequest& request) {
  HttpResponse response;
  auto handle = acquire();
  CURL* curl = handle->get();
  if (!curl) {
    response.errorCode = kNetworkErrorUnknown;
    response.errorDescription = "cannot create a libcurl handle";
    return response;
  }
  // Reset keeps the handle's open connections and caches, drops the options.
  curl_easy_reset(curl);

  Slist headers;
  bool headersOk = append(headers, "Expect:");
  for (const auto& [name, value] : request.headers) {
    // "Name;" is libcurl's way of sending a header with an empty value.
    headersOk = headersOk && append(headers, value.empty() ? name + ";" : name + ": " + value);
  }
  if (!headersOk) {
    response.errorCode = kNetworkErrorUnknown;
    response.errorDescription = "out of memory for headers";
    return response;
  }

  char errorBuffer[CURL_ERROR_SIZE] = {0};
  ReplySink sink{&response.headers, &response.body, request.maxResponseBytes};
  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  BodySource source{request.body, &request.beforeSending};
  if (request.beforeSending) {
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, onRead);
    curl_easy_setopt(curl, CURLOPT_READDATA, &source);
    curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, onSeek);
    curl_easy_setopt(curl, CURLOPT_SEEKDATA, &source);
  } else {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
  }
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(curl, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
  applyProxy(curl);

  CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  response.status = status;
  if (sink.tooLarge) {
    response.errorCode = kNetworkErrorDataLengthExceedsMaximum;
    response.errorDescription = "reply larger than " + std::to_string(request.maxResponseBytes) + " bytes";
  } else if (sink.failed) {
    response.errorCode = kNetworkErrorUnknown;
    response.errorDescription = "out of memory for the reply";
  } else if (code != CURLE_OK) {
    long osErrno = 0;
    curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osErrno);
    response.errorCode = errorCodeForCurl(code, osErrno);
    response.errorDescription = errorBuffer[0] ? errorBuffer : curl_easy_strerror(code);
  }
  if (!response.completed()) {
    // A cut reply is never used; its memory goes now.
    std::string().swap(response.body);
  }
  // Detach the request's buffers before the handle goes back to the pool.
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(curl, CURLOPT_READDATA, nullptr);
  curl_easy_setopt(curl, CURLOPT_SEEKDATA, nullptr);
  release(std::move(handle));
  return response;
}

int HttpClient::errorCodeForCurl(int curlCode, long osErrno) {
  switch (static_cast<CURLcode>(curlCode)) {
    case CURLE_OK:
      return 0;
    case CURLE_COULDNT_CONNECT:
      return osErrno == ENETUNREACH || osErrno == ENETDOWN ? kNetworkErrorNotConnectedToInternet
                                                           : kNetworkErrorCannotConnectToHost;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kNetworkErrorDNSLookupFailed;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return kNetworkErrorConnectionLost;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_TOO_MANY_REDIRECTS:
      return kNetworkErrorBadServerResponse;
    case CURLE_OPERATION_TIMEDOUT:
      return kNetworkErrorTimedOut;
    case CURLE_URL_MALFORMAT:
      return kNetworkErrorBadURL;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return kNetworkErrorUnsupportedURL;
    case CURLE_ABORTED_BY_CALLBACK:
      return kNetworkErrorCancelled;
    case CURLE_FILE_COULDNT_READ_FILE:
      return kNetworkErrorFileDoesNotExist;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_CACERT_BADFILE:
      return kNetworkErrorSecureConnectionFailed;
    case CURLE_PEER_FAILED_VERIFICATION:
      return kNetworkErrorServerCertificateUntrusted;
    default:
      return kNetworkErrorUnknown;
  }
}

}  // namespace palvero
