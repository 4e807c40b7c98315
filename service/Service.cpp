#include "Service.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "ConnectionDropper.h"
#include "FormCodec.h"
#include "RequestReader.h"

namespace palvero::service {
namespace fs = std::filesystem;

namespace {

constexpr size_t kWorkerThreads = 64;

// The headers a test may want to see, as the client sent them.
Value loggedHeaders(const httplib::Request& req) {
  Value headers = Value::object();
  for (const char* name : {"User-Agent", "Cookie", "Content-Type", "Content-Length", "Expect"}) {
    if (req.has_header(name)) headers[name] = req.get_header_value(name);
  }
  return headers;
}

Value loggedFields(const ServiceRequest& request) {
  Value fields = Value::object();
  for (const auto& [key, value] : request.fields) fields[key] = clipForLog(value);
  return fields;
}

Value loggedParts(const ServiceRequest& request) {
  Value parts = Value::array();
  for (const auto& part : request.parts) {
    parts.push_back({{"name", part.name}, {"filename", part.filename}, {"size", part.size()}});
  }
  return parts;
}

void applyReply(ServiceReply& reply, httplib::Response& res) {
  res.status = reply.status;
  for (const auto& [name, value] : reply.headers) res.set_header(name, value);
  res.set_header("Content-Type", reply.contentType);
  res.body = std::move(reply.body);
}

}  // namespace

Service::Service(ServiceOptions options) : options_(std::move(options)) {
  fs::create_directories(options_.dataDir);
  std::string tmp = options_.dataDir + "/tmp";
  fs::remove_all(tmp);
  fs::create_directories(tmp);
  spoolDir_ = tmp;
  metadata_ = std::make_unique<MetadataStore>(options_.dataDir + "/metadata.db");
  blocks_ = std::make_unique<BlobStore>(options_.dataDir + "/blocks", tmp, options_.durable);
  versions_ = std::make_unique<BlobStore>(options_.dataDir + "/versions", tmp, options_.durable);
  log_ = std::make_unique<RequestLog>(options_.dataDir + "/requests.jsonl");
  context_ = std::unique_ptr<ServiceContext>(
      new ServiceContext{options_, *metadata_, *blocks_, *versions_, sessions_, partials_, faults_, *log_});

  server_ = std::make_unique<httplib::Server>();
  server_->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
  server_->set_payload_max_length(kMaxBodyBytes);
  server_->set_keep_alive_max_count(1000000);
  server_->set_keep_alive_timeout(10);
  server_->set_read_timeout(60);
  server_->set_write_timeout(60);
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

void Service::onServerRequest(const httplib::Request& req, httplib::Response& res,
                              const httplib::ContentReader& reader) {
  ServiceRequest request;
  std::string rawForm;
  std::string error;
  Value entry = {{"headers", loggedHeaders(req)}};
  if (!readServiceRequest(req, reader, kMaxBodyBytes, spoolDir_, request, rawForm, &error)) {
    entry["kind"] = "";
    entry["status"] = 400;
    entry["error"] = error;
    log_->append(std::move(entry));
    res.status = 400;
    res.set_content(error, "text/plain");
    return;
  }
  request.sessionToken = cookieValue(req.get_header_value("Cookie"), SessionTable::kCookieName);
  request.principal = sessions_.find(request.sessionToken);
  entry["kind"] = request.kind;
  entry["fields"] = loggedFields(request);
  entry["files"] = loggedParts(request);
  if (!rawForm.empty()) entry["body"] = clipForLog(rawForm);

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
