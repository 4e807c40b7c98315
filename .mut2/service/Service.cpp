#include "Service.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <thread>

#include "ConnectionDropper.h"
#include "ConnectionPool.h"
#include "FormCodec.h"
#include "Limits.h"
#include "PrivateFiles.h"
#include "RequestReader.h"

namespace palvero::service {
namespace fs = std::filesystem;

namespace {

// Accounts up to this id may read the blocks an older service kept for all
// accounts together (AccountBlocks).
constexpr const char* kLegacyBlocksKey = "legacy_blocks_accounts";

bool hasEntries(const std::string& folder) {
  std::error_code ec;
  return fs::is_directory(folder, ec) && !fs::is_empty(folder, ec);
}

// The headers a test may want to see, as the client sent them.
Value loggedHeaders(const httplib::Request& req) {
  Value headers = Value::object();
  for (const char* name : {"User-Agent", "Cookie", "Content-Type", "Content-Length", "Expect"}) {
    if (req.has_header(name)) headers[name] = req.get_header_value(name);
  }
  return headers;
}

// The request log cuts these (after taking secrets out of them).
Value loggedFields(const ServiceRequest& request) {
  Value fields = Value::object();
  for (const auto& [key, value] : request.fields) fields[key] = value;
  return fields;
}

Value loggedParts(const ServiceRequest& request) {
  Value parts = Value::array();
  for (const auto& part : request.parts) {
    parts.push_back({{"name", part.name}, {"filename", part.filename}, {"size", part.size()}});
  }
  return parts;
}

// Microseconds of the service's monotonic clock: request spacing is read
// from these, wall-clock "time" has only whole seconds.
int64_t monotonicMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void applyReply(ServiceReply& reply, httplib::Response& res) {
  res.status = reply.status;
  for (const auto& [name, value] : reply.headers) res.set_header(name, value);
  res.set_header("Content-Type", reply.contentType);
  res.body = std::move(reply.body);
}

}  // namespace

Service::Service(ServiceOptions options) : options_(std::move(options)) {
  createPrivateDirectories(options_.dataDir);
  tightenMode(options_.dataDir);
  std::string tmp = options_.dataDir + "/tmp";
  fs::remove_all(tmp);
  createPrivateDirectories(tmp);
  spoolDir_ = tmp;
  metadata_ = std::make_unique<MetadataStore>(options_.dataDir + "/metadata.db");
  int64_t legacyUpTo = 0;
  if (auto recorded = metadata_->meta(kLegacyBlocksKey)) {
    legacyUpTo = boundedInteger(*recorded, 0, std::numeric_limits<int64_t>::max()).value_or(0);
  } else if (hasEntries(AccountBlocks::legacyRoot(options_.dataDir))) {
    legacyUpTo = metadata_->maxAccountId();
    metadata_->setMeta(kLegacyBlocksKey, std::to_string(legacyUpTo));
  }
  blocks_ = std::make_unique<AccountBlocks>(options_.dataDir, tmp, options_.durable, legacyUpTo);
  versions_ = std::make_unique<BlobStore>(options_.dataDir + "/versions", tmp, options_.durable);
  log_ = std::make_unique<RequestLog>(options_.dataDir + "/requests.jsonl", options_.requestLogBytes,
                                      options_.testControl);
  partials_ = std::make_unique<PartialUploads>(limits::kVersionBytes, limits::kPartialUploadsPerSession,
                                               limits::kPartialUploadBytes);
  context_ = std::unique_ptr<ServiceContext>(
      new ServiceContext{options_, *metadata_, *blocks_, *versions_, sessions_, *partials_, faults_, *log_});

  server_ = std::make_unique<httplib::Server>();
  server_->new_task_queue = [threads = options_.workerThreads, most = options_.maxConnections] {
    return new ConnectionPool(threads, most);
  };
  server_->set_payload_max_length(limits::kBodyBytes);
  server_->set_keep_alive_max_count(1000000);
  server_->set_keep_alive_timeout(5);
  server_->set_read_timeout(options_.ioTimeoutSeconds);
  server_->set_write_timeout(options_.ioTimeoutSeconds);
  server_->set_tcp_nodelay(true);
  server_->Post("/server.php", [this](const httplib::Request& req, httplib::Response& res,
                                      const httplib::ContentReader& reader) { onServerRequest(req, res, reader); });
  if (options_.testControl) {
    server_->Post("/control", [this](const httplib::Request& req, httplib::Response& res,
                                     const httplib::ContentReader& reader) { onControlRequest(req, res, reader); });
    server_->Post("/control/sink",
                  [](const httplib::Request&, httplib::Response& res, const httplib::ContentReader& reader) {
                    uint64_t total = 0;
                    reader([&total](const char*, size_t size) {
                      total += size;
                      return true;
                    });
                    res.set_content(std::to_string(total), "text/plain");
                  });
    server_->Get("/control/source", [](const httplib::Request& req, httplib::Response& res) {
      size_t bytes = req.has_param("bytes") ? std::stoull(req.get_param_value("bytes")) : 0;
      res.set_content_provider(
          bytes, "application/octet-stream",
          [chunk = std::string(1 << 20, 'x')](size_t offset, size_t length, httplib::DataSink& sink) {
            (void)offset;
            return sink.write(chunk.data(), std::min(length, chunk.size()));
          });
    });
  }
  server_->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    res.status = 500;
    res.set_content("internal error", "text/plain");
  });
}

Service::~Service() { stop(); }

int Service::bind(const std::string& host, int port) {
  if (port == 0) return server_->bind_to_any_port(host);
  return server_->bind_to_port(host, port) ? port : -1;
}

bool Service::serve() { return server_->listen_after_bind(); }

void Service::stop() {
  if (server_) server_->stop();
}

bool Service::addFaultRule(const std::string& text, std::string* error) {
  auto rule = FaultInjector::parse(text, error);
  if (!rule) return false;
  faults_.add(std::move(*rule));
  return true;
}

ReadLimits Service::limitsFor(bool withSession) const {
  ReadLimits bounds;
  bounds.formBytes = withSession ? limits::kFormBytes : limits::kPublicBodyBytes;
  bounds.bodyBytes = withSession ? limits::kBodyBytes : limits::kPublicBodyBytes;
  bounds.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options_.requestSeconds);
  return bounds;
}

void Service::onServerRequest(const httplib::Request& req, httplib::Response& res,
                              const httplib::ContentReader& reader) {
  ServiceRequest request;
  std::string rawForm;
  std::string error;
  int status = 400;
  Value entry = {{"headers", loggedHeaders(req)}, {"received", monotonicMicros()}};
  // Who is calling decides how much body may be read, so the session is
  // known before any of it is.
  request.sessionToken = cookieValue(req.get_header_value("Cookie"), SessionTable::kCookieName);
  request.principal = sessions_.find(request.sessionToken);
  ReadLimits bounds = limitsFor(request.principal.has_value());
  bool read = false;
  std::optional<int64_t> announced;
  if (req.has_header("Content-Length")) {
    announced = boundedInteger(req.get_header_value("Content-Length"), 0, std::numeric_limits<int64_t>::max());
  }
  if (req.has_header("Content-Length") && (!announced || *announced > static_cast<int64_t>(bounds.bodyBytes))) {
    error = "body too large";
    status = 413;
  } else {
    read = readServiceRequest(req, reader, bounds, spoolDir_, request, rawForm, &error, &status);
  }
  if (!read) {
    // Only a session may send a large body. Without one the client is told
    // to authorise, as for any request that needs a session: a client whose
    // session ran out renews it and sends again.
    if (status == 413 && !request.principal) {
      status = 401;
      error = "session required";
    }
    entry["kind"] = "";
    entry["status"] = status;
    entry["error"] = error;
    entry["answered"] = monotonicMicros();
    log_->append(std::move(entry));
    res.status = status;
    // What is left of the body is never read: the connection cannot carry
    // another request.
    res.set_header("Connection", "close");
    res.set_content(error, "text/plain");
    return;
  }
  entry["kind"] = request.kind;
  entry["fields"] = loggedFields(request);
  entry["files"] = loggedParts(request);
  if (!rawForm.empty()) entry["body"] = std::move(rawForm);

  ServiceReply reply;
  if (auto fault = faults_.take(request.kind)) {
    entry["fault"] = fault->describe();
    switch (fault->type) {
      case FaultAction::Type::kDelay:
        std::this_thread::sleep_for(std::chrono::milliseconds(fault->delayMs));
        dispatch(request, reply);
        break;
      case FaultAction::Type::kDrop:
      case FaultAction::Type::kReset: {
        bool cut = cutConnection(req.local_port, req.remote_port,
                                 fault->type == FaultAction::Type::kReset ? CutMode::kReset : CutMode::kClose);
        entry["status"] = cut ? 0 : 500;
        entry["answered"] = monotonicMicros();
        log_->append(std::move(entry));
        res.status = 500;
        return;
      }
      case FaultAction::Type::kStatus:
        reply.text(fault->status, "injected fault " + std::to_string(fault->status));
        break;
      case FaultAction::Type::kMalformed:
        reply.text(200, "<html><body>malformed reply {\"size\":");
        break;
      case FaultAction::Type::kBody:
        reply.text(200, fault->body);
        break;
    }
  } else {
    dispatch(request, reply);
  }
  entry["status"] = reply.status;
  if (reply.body.size() <= 256 && reply.contentType != "application/octet-stream") entry["reply"] = reply.body;
  entry["answered"] = monotonicMicros();
  log_->append(std::move(entry));
  applyReply(reply, res);
}

void Service::dispatch(ServiceRequest& request, ServiceReply& reply) {
  const HandlerSpec* spec = HandlerRegistry::instance().find(request.kind);
  if (!spec) {
    reply.text(400, "unknown request");
    return;
  }
  if (spec->access == Access::kSession) {
    if (!request.principal || (request.has("guid") && request.field("guid") != request.principal->id)) {
      reply.text(401, "session required");
      return;
    }
  }
  try {
    spec->fn(*context_, request, reply);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "palvero-service: %s failed: %s\n", request.kind.c_str(), e.what());
    reply.text(500, "internal error");
  }
}

}  // namespace palvero::service
