// A transport for the reply fuzzers: a session renewal ("request=auth") is
// answered "ok" with a session cookie, every other request 200 with the
// reply under test, so that each reader sees the fuzzed bytes as a
// successful answer.
//
// Thread contract: post() from any thread; setReply() while no request is
// under way.
#pragma once

#include <mutex>
#include <string>

#include "protocol/HttpTransport.h"

namespace palvero::fuzz {

class FuzzTransport : public HttpTransport {
 public:
  void setReply(std::string body, HttpHeaders headers = {}) {
    std::lock_guard lock(mutex_);
    body_ = std::move(body);
    headers_ = std::move(headers);
  }

  HttpResponse post(const HttpRequest& request) override {
    HttpResponse response;
    response.status = 200;
    if (request.body.rfind("request=auth&", 0) == 0) {
      response.body = "ok";
      response.headers = {{"Set-Cookie", "PVSESSID=fuzz; path=/"}};
      return response;
    }
    std::lock_guard lock(mutex_);
    response.body = body_;
    response.headers = headers_;
    return response;
  }

 private:
  std::mutex mutex_;
  std::string body_;      // guarded by mutex_
  HttpHeaders headers_;   // guarded by mutex_
};

}  // namespace palvero::fuzz
