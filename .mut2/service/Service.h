// The substitute backup service: an HTTP server on one address that answers
// POST /server.php by request kind (handlers/ registers them), keeps its
// state under the data folder, applies fault rules and logs every request.
// With test control on it also answers /control (see README.md).
//
// Data folder layout (folder 0700, files 0600): metadata.db (SQLite),
// accounts/<id>/blocks/ and versions/ (objects), tmp/ (objects being
// written), requests.jsonl (the request log); blocks/ is what an older
// service kept for all accounts together (read only, see AccountBlocks).
//
// Thread contract: construct, bind() and serve() on one thread; stop() from
// any thread. Requests are served by a pool of worker threads.
#pragma once

#include <memory>
#include <string>

#include "HandlerRegistry.h"
#include "RequestReader.h"

namespace httplib {
class Server;
struct Request;
struct Response;
class ContentReader;
}  // namespace httplib

namespace palvero::service {

class Service {
 public:
  // Opens or creates the data folder. Throws std::runtime_error on failure.
  explicit Service(ServiceOptions options);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Binds `host`:`port` (0 picks a free port) and starts listening; returns
  // the port, or -1.
  int bind(const std::string& host, int port);
  // Serves until stop(). Returns false when the server could not run.
  bool serve();
  void stop();

  ServiceContext& context() { return *context_; }
  // Adds a rule; false (and `*error`) when the text is not a rule.
  bool addFaultRule(const std::string& text, std::string* error);

 private:
  void onServerRequest(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader);
  void onControlRequest(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader);
  void dispatch(ServiceRequest& request, ServiceReply& reply);
  // How much body a request may send, and until when.
  ReadLimits limitsFor(bool withSession) const;

  ServiceOptions options_;
  std::string spoolDir_;
  std::unique_ptr<MetadataStore> metadata_;
  std::unique_ptr<AccountBlocks> blocks_;
  std::unique_ptr<BlobStore> versions_;
  SessionTable sessions_;
  std::unique_ptr<PartialUploads> partials_;
  FaultInjector faults_;
  std::unique_ptr<RequestLog> log_;
  std::unique_ptr<ServiceContext> context_;
  std::unique_ptr<httplib::Server> server_;
};

}  // namespace palvero::service
