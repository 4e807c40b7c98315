// Shared pieces of the request-layer unit tests: a scripted transport that
// records every request and answers from a queue, a fixture with its own
// home, fake clock and device identity, and readers for multipart bodies and
// the log written by the code under test.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/FakeClock.h"
#include "base/NotificationCenter.h"
#include "platform/Env.h"
#include "protocol/CommunicationServer.h"
#include "protocol/HttpTransport.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"
#include "support/LogLines.h"
#include "support/TempHome.h"

namespace palvero::testing {

struct SentRequest {
  std::string url;
  std::string body;
  HttpHeaders headers;
  std::chrono::milliseconds timeout{0};
  size_t maxResponseBytes = 0;

  std::optional<std::string> header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
      if (key == name) return value;
    }
    return std::nullopt;
  }
};

inline HttpResponse reply(long status, std::string body, HttpHeaders headers = {}) {
  HttpResponse r;
  r.status = status;
  r.body = std::move(body);
  r.headers = std::move(headers);
  return r;
}

inline HttpResponse transportError(int code) {
  HttpResponse r;
  r.errorCode = code;
  r.errorDescription = "transport error " + std::to_string(code);
  return r;
}

// A short text for test names.
inline std::string describe(const HttpResponse& r) {
  if (!r.completed()) return "error " + std::to_string(r.errorCode);
  return std::to_string(r.status) + " " + r.body;
}
inline std::string describe(const std::vector<HttpResponse>& replies) {
  std::string out;
  for (const auto& r : replies) out += (out.empty() ? "" : ", ") + describe(r);
  return out;
}

class ScriptedTransport : public HttpTransport {
 public:
  using Script = std::function<HttpResponse(const SentRequest&)>;

  HttpResponse post(const HttpRequest& request) override {
    SentRequest sent{request.url, std::string(request.body), request.headers, request.timeout,
                     request.maxResponseBytes};
    Script script;
    {
      std::lock_guard lock(mutex_);
      sent_.push_back(sent);
      if (!queue_.empty()) {
        script = std::move(queue_.front());
        queue_.pop_front();
      } else {
        script = fallback_;
      }
    }
    return script ? script(sent) : transportError(-1004);
  }

  void push(HttpResponse response) {
    std::lock_guard lock(mutex_);
    queue_.push_back([response](const SentRequest&) { return response; });
  }
  void push(Script script) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(script));
  }
  void pushMany(int count, const HttpResponse& response) {
    for (int i = 0; i < count; ++i) push(response);
  }
  // The answer once the queue is empty (by default a refused connection).
  void setFallback(Script script) {
    std::lock_guard lock(mutex_);
    fallback_ = std::move(script);
  }
  std::vector<SentRequest> sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  size_t count() const {
    std::lock_guard lock(mutex_);
    return sent_.size();
  }
  // The form field "request" of each request sent ("" for multipart).
  std::vector<std::string> kinds() const;

 private:
  mutable std::mutex mutex_;
  std::deque<Script> queue_;
  Script fallback_;
  std::vector<SentRequest> sent_;
};

inline std::vector<std::string> ScriptedTransport::kinds() const {
  std::vector<std::string> out;
  for (const auto& s : sent()) {
    std::string kind;
    size_t at = s.body.find("request=");
    if (at != std::string::npos && (at == 0 || s.body[at - 1] == '&')) {
      size_t end = s.body.find('&', at);
      kind = s.body.substr(at + 8, end == std::string::npos ? std::string::npos : end - at - 8);
    } else if ((at = s.body.find("name=\"request\"\r\n\r\n")) != std::string::npos) {
      size_t start = at + 18;
      kind = s.body.substr(start, s.body.find("\r\n", start) - start);
    }
    out.push_back(kind);
  }
  return out;
}

// One part of a multipart body, read without the client's own code.
struct ParsedPart {
  std::string name;
  std::string filename;
  bool isFile = false;
  std::string content;
};

// Splits `body` at the delimiters "--" + boundary; empty when the body does
// not end with the closing delimiter.
inline std::vector<ParsedPart> parseMultipart(const std::string& body, const std::string& boundary) {
  std::vector<ParsedPart> parts;
  const std::string delimiter = "--" + boundary;
  const std::string closing = "\r\n" + delimiter + "--\r\n";
  if (body.size() < closing.size() || body.compare(body.size() - closing.size(), closing.size(), closing) != 0) {
    return {};
  }
  size_t pos = body.find(delimiter + "\r\n");
  while (pos != std::string::npos) {
    size_t headersStart = pos + delimiter.size() + 2;
    size_t headersEnd = body.find("\r\n\r\n", headersStart);
    if (headersEnd == std::string::npos) return {};
    std::string headers = body.substr(headersStart, headersEnd - headersStart);
    size_t contentStart = headersEnd + 4;
    size_t next = body.find("\r\n" + delimiter, contentStart);
    ParsedPart part;
    size_t nameAt = headers.find("name=\"");
    part.name = headers.substr(nameAt + 6, headers.find('"', nameAt + 6) - nameAt - 6);
    size_t fileAt = headers.find("filename=\"");
    if (fileAt != std::string::npos) {
      part.isFile = true;
      part.filename = headers.substr(fileAt + 10, headers.find('"', fileAt + 10) - fileAt - 10);
    }
    part.content = body.substr(contentStart, next - contentStart);
    parts.push_back(std::move(part));
    if (body.compare(next + 2, delimiter.size() + 2, delimiter + "--") == 0) break;
    pos = next + 2;
  }
  return parts;
}

// The boundary named by a request's Content-Type header.
inline std::string boundaryOf(const SentRequest& request) {
  std::string type = request.header("Content-Type").value_or("");
  size_t at = type.find("boundary=");
  return at == std::string::npos ? std::string() : type.substr(at + 9);
}

class ProtocolTest : public ::testing::Test {
 protected:
  static constexpr const char* kURL = "https://backup.example.com/server.php";

  void SetUp() override {
    clock_ = std::make_shared<FakeClock>();
    Clock::setCurrent(clock_);
    auto& settings = LocalSettings::sharedManager();
    settings.setClientId("GUID-1");
    settings.setPassword("PASS-1");
    startOver();
  }
  void TearDown() override { Clock::setCurrent(nullptr); }

  // A new server on a new transport, for cases run one after another in a test.
  void startOver() {
    transport_ = std::make_shared<ScriptedTransport>();
    server_ = CommunicationServer::create(kURL, transport_);
  }

  std::vector<std::string> logLinesStartingWith(const std::string& prefix) const {
    return loggedTextsStartingWith(prefix);
  }
  // Records the names of the notifications posted by the server under test.
  std::shared_ptr<std::vector<std::string>> watchNotifications(const std::vector<std::string>& names) {
    auto seen = std::make_shared<std::vector<std::string>>();
    for (const auto& name : names) {
      NotificationCenter::defaultCenter().addObserver(name, server_.get(),
                                                      [seen, name](const Notification&) { seen->push_back(name); });
    }
    return seen;
  }

  TempHome home_;
  std::shared_ptr<FakeClock> clock_;
  std::shared_ptr<ScriptedTransport> transport_;
  std::shared_ptr<CommunicationServer> server_;
};

inline HttpResponse authOk(const std::string& session = "S1") {
  return reply(200, "ok", {{"Set-Cookie", "PVSESSID=" + session + "; Path=/; HttpOnly"}});
}

}  // namespace palvero::testing
