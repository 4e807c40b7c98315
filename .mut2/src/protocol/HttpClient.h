// HttpTransport over libcurl. Keeps its easy handles between requests so that
// connections stay open (keep-alive): a backup sends thousands of requests
// over a handful of connections. Verifies TLS peers and host names. Takes the
// proxy from the settings store for every request (see README.md): type 0
// uses none, not even the environment's; without one set, libcurl applies
// the https_proxy / http_proxy / no_proxy environment, which is the system
// proxy on Linux.
//
// A reply is read only up to the request's maxResponseBytes; an announced
// Content-Length beyond it ends the exchange before any body is read, so a
// lying server cannot make the client reserve or hold more.
//
// libcurl 7.88 would send "Expect: 100-continue" before bodies over 1 MiB and
// wait for the server's go-ahead; every request sends an empty Expect header
// instead.
//
// Thread contract: post() is safe from several threads at once; each call
// takes an idle handle (or makes one) for its whole exchange.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "protocol/HttpTransport.h"

namespace palvero {

class HttpClient : public HttpTransport {
 public:
  HttpClient();
  ~HttpClient() override;
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  HttpResponse post(const HttpRequest& request) override;

  // The platform code for a libcurl result (`curlCode` a CURLcode) and the
  // errno of a failed connect.
  static int errorCodeForCurl(int curlCode, long osErrno);

 private:
  class Handle;
  HttpResponse perform(const HttpRequest& request);
  std::unique_ptr<Handle> acquire();
  void release(std::unique_ptr<Handle> handle);

  std::mutex mutex_;
  std::vector<std::unique_ptr<Handle>> idle_;  // guarded by mutex_
};

}  // namespace palvero
