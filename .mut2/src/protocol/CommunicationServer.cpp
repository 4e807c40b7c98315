#include "protocol/CommunicationServer.h"

#include <cstring>

#include "base/DispatchQueue.h"
#include "base/NotificationCenter.h"
#include "base/RunLoop.h"
#include "base/StringFormat.h"
#include "engine/format/util/Functions.h"
#include "platform/Env.h"
#include "protocol/HttpClient.h"
#include "protocol/NetworkErrorManager.h"
#include "protocol/UploadThrottle.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

// The form as ASCII bytes: each character without an ASCII form (a UTF-8
// sequence, or a byte that is not valid UTF-8) becomes one "?".
std::string asciiForm(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    size_t length = c >= 0xF0 && c < 0xF8 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    size_t taken = 1;
    while (taken < length && i + taken < text.size() && (static_cast<unsigned char>(text[i + taken]) & 0xC0) == 0x80) {
      ++taken;
    }
    out.push_back('?');
    i += taken;
  }
  return out;
}

}  // namespace

std::shared_ptr<CommunicationServer> CommunicationServer::create() {
  return create(Env::serverURL(), std::make_shared<HttpClient>());
}

std::shared_ptr<CommunicationServer> CommunicationServer::create(std::string serverURL,
                                                                 std::shared_ptr<HttpTransport> transport) {
  return std::make_shared<CommunicationServer>(Passkey(), std::move(serverURL), std::move(transport));
}

CommunicationServer::CommunicationServer(Passkey, std::string serverURL, std::shared_ptr<HttpTransport> transport)
    : serverURL_(std::move(serverURL)), transport_(std::move(transport)) {}

void CommunicationServer::setRequestTimeout(std::chrono::milliseconds timeout) { timeout_.store(timeout.count()); }

std::vector<HTTPCookie> CommunicationServer::cookies() const {
  std::lock_guard lock(cookiesMutex_);
  return cookies_;
}

void CommunicationServer::setCookies(std::vector<HTTPCookie> cookies) {
  std::lock_guard lock(cookiesMutex_);
  cookies_ = std::move(cookies);
}

std::optional<HTTPCookie> CommunicationServer::firstCookie() const {
  std::lock_guard lock(cookiesMutex_);
  if (cookies_.empty()) return std::nullopt;
  return cookies_.front();
}

std::optional<HTTPCookie> CommunicationServer::lastCookie() const {
  std::lock_guard lock(cookiesMutex_);
  if (cookies_.empty()) return std::nullopt;
  return cookies_.back();
}

std::string CommunicationServer::sessionForLog() const {
  auto cookie = lastCookie();
  return cookie ? cookie->value : std::string("(null)");
}

std::optional<std::string> CommunicationServer::cookieHeader(const std::optional<HTTPCookie>& cookie) {
  if (!cookie) return std::nullopt;
  return cookie->name + "=" + cookie->value;
}

std::string CommunicationServer::clientId() const { return LocalSettings::sharedManager().clientId().value_or(""); }

std::string CommunicationServer::password() const { return LocalSettings::sharedManager().password().value_or(""); }

std::string CommunicationServer::applicationVersion() const {
  return LocalSettings::sharedManager().applicationVersion().value_or(Env::applicationVersion());
}

std::string CommunicationServer::userAgent() const {
  return stringWithFormat("%s / %s", kUserAgentProduct, applicationVersion().c_str());
}

HttpResponse CommunicationServer::sendBody(const std::string& body, const std::string& contentType,
                                           const std::optional<HTTPCookie>& cookie, bool withContentLength) const {
  HttpRequest request;
  request.url = serverURL_;
  request.timeout = std::chrono::milliseconds(timeout_.load());
  if (!contentType.empty()) request.headers.emplace_back("Content-Type", contentType);
  request.headers.emplace_back("User-Agent", userAgent());
  if (auto header = cookieHeader(cookie)) request.headers.emplace_back("Cookie", *header);
  if (withContentLength) request.headers.emplace_back("Content-Length", std::to_string(body.size()));
  request.body = body;
  // Every upload body goes through the shared limit, which also measures
  // the rate while nothing limits it.
  UploadThrottle::Upload upload = UploadThrottle::shared().begin();
  if (upload.limited())
    request.timeout += std::chrono::duration_cast<std::chrono::milliseconds>(UploadThrottle::kMaxWaitInRequest);
  request.beforeSending = [&upload](size_t bytes) { upload.beforeSending(bytes); };
  HttpResponse response = transport_->post(request);
  pacer_.exchangeEnded();
  return response;
}

HttpResponse CommunicationServer::sendForm(const std::string& form, CookieChoice cookie, size_t maxReplyBytes) const {
  HttpRequest request;
  request.url = serverURL_;
  request.maxResponseBytes = maxReplyBytes;
  request.timeout = std::chrono::milliseconds(timeout_.load());
  std::string body = asciiForm(form);
  request.body = body;
  request.headers.emplace_back("User-Agent", userAgent());
  if (cookie == CookieChoice::kEmpty) {
    request.headers.emplace_back("Cookie", "");
  } else if (auto header = cookieHeader(cookie == CookieChoice::kFirst ? firstCookie() : lastCookie())) {
    request.headers.emplace_back("Cookie", *header);
  }
  HttpResponse response = transport_->post(request);
  pacer_.exchangeEnded();
  return response;
}

void CommunicationServer::sendFormAsync(std::string form, Completion completion) {
  auto self = shared_from_this();
  DispatchQueue::global().async([self, form = std::move(form), completion = std::move(completion)] {
    HttpResponse response = self->sendForm(form);
    RunLoop::main().async([self, response = std::move(response), completion] {
      if (completion) completion(*self, response);
    });
  });
}

void CommunicationServer::sendAsyncRenewing(const char* operation, Sender send, Completion completion,
                                            std::function<void(CommunicationServer&)> refused, int renewalsLeft) {
  auto self = shared_from_this();
  DispatchQueue::global().async([self, operation, send = std::move(send), completion = std::move(completion),
                                 refused = std::move(refused), renewalsLeft]() mutable {
    HttpResponse response = send(*self);
    if (response.completed() && response.status == 401) {
      if (renewalsLeft <= 0) {
        logFailure(std::string(operation) + " FAIL. The service refused the renewed session again");
      } else if (self->syncAuthorise()) {
        self->sendAsyncRenewing(operation, std::move(send), std::move(completion), std::move(refused),
                                renewalsLeft - 1);
        return;
      }
      RunLoop::main().async([self, refused = std::move(refused)] {
        if (refused) refused(*self);
      });
      return;
    }
    RunLoop::main().async([self, response = std::move(response), completion = std::move(completion)] {
      if (completion) completion(*self, response);
    });
  });
}

void CommunicationServer::postNotification(const char* name, Value userInfo) const {
  NotificationCenter::defaultCenter().post(name, this, std::move(userInfo));
}

std::string CommunicationServer::formValue(const std::string& text) { return Functions::UrlEncode(text).value_or(""); }

void CommunicationServer::updateCookies(const HttpResponse& response) {
  auto fresh = cookiesFromResponse(response, serverURL_);
  if (fresh.empty()) return;
  std::lock_guard lock(cookiesMutex_);
  cookies_ = std::move(fresh);
}

bool CommunicationServer::isOutage(const HttpResponse& response) const {
  return !response.completed() && NetworkErrorManager::sharedErrorManager().isNetworkAlive(response.errorCode);
}

CommunicationServer::RetryResult CommunicationServer::exchangeWithRetries(const std::string& form,
                                                                          const RetryPolicy& policy, bool& offlineBreak,
                                                                          HttpResponse& response) {
  int failed = 0;
  while (failed < kMaxAttempts) {
    response = sendForm(form, CookieChoice::kLast, policy.maxReplyBytes);
    if (isOutage(response)) {
      offlineBreak = true;
      return RetryResult::kFailed;
    }
    offlineBreak = false;
    if (response.completed() && response.status == 401) {
      return syncAuthorise() ? RetryResult::kRenewed : RetryResult::kFailed;
    }
    if (response.completed()) {
      SpecialReply special = policy.special ? policy.special(response) : SpecialReply::kNone;
      if (special == SpecialReply::kFailNow) return RetryResult::kFailed;
      if (special == SpecialReply::kRepeat) continue;
      if (response.status == 502) {
        pause(std::chrono::seconds(1));
      } else if (response.status == 503) {
        offlineBreak = true;
        return RetryResult::kFailed;
      } else if (policy.succeeded(response)) {
        updateCookies(response);
        return RetryResult::kSucceeded;
      }
    }
    policy.logFailure(failed, response);
    ++failed;
    if (failed < kMaxAttempts && policy.pauseAfterFailure.count() > 0) pause(policy.pauseAfterFailure);
  }
  return RetryResult::kFailed;
}

int& CommunicationServer::nestedRenewals() {
  thread_local int depth = 0;
  return depth;
}

void CommunicationServer::logEntry(uint32_t entryType, int32_t sessionType, const std::string& text, int level) {
  LogWriter::sharedLogger().logEntry(entryType, sessionType, text, level);
}

void CommunicationServer::logFailure(const std::string& text) {
  logEntry(kGeneralLogEvent, kSessionOther, text, kLogFailure);
}

void CommunicationServer::pause(Clock::Duration duration) { Clock::current()->sleepFor(duration); }

void CommunicationServer::paceRequest() { pacer_.waitBefore(RequestPacer::requestPause()); }

Bytes CommunicationServer::bytesOfBody(const HttpResponse& response) {
  Bytes bytes(response.body.size());
  if (!bytes.empty()) std::memcpy(bytes.data(), response.body.data(), bytes.size());
  return bytes;
}

std::string CommunicationServer::bodyForLog(const HttpResponse& response) {
  std::string text = response.body.substr(0, kMaxServerTextInLog);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  if (response.body.size() > kMaxServerTextInLog) text += "...";
  return text;
}

}  // namespace palvero
