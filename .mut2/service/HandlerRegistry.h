// The table of request kinds. Each handler file registers its kinds with a
// static HandlerRegistration, so adding a kind is adding one file under
// handlers/:
//
//   namespace {
//   void handlePing(ServiceContext&, const ServiceRequest&, ServiceReply& reply) { reply.text(200, "pong"); }
//   const HandlerRegistration kPing("ping", Access::kPublic, handlePing);
//   }
//
// A kSession handler runs only for a request with a valid session cookie
// (whose guid, when given, matches the session); others are answered 401
// before it runs. A handler may throw; the dispatcher answers 500.
//
// Thread contract: registration happens during static initialisation;
// find() is safe from any thread afterwards. Handlers run on the server's
// worker threads, several at once.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "AccountBlocks.h"
#include "BlobStore.h"
#include "FaultInjector.h"
#include "MetadataStore.h"
#include "PartialUploads.h"
#include "RequestLog.h"
#include "ServiceTypes.h"
#include "SessionTable.h"

namespace palvero::service {

struct ServiceOptions {
  std::string dataDir;
  int64_t maxDevices = 5;
  bool durable = true;
  bool testControl = false;
  // Entries per page of "get_folder_page".
  int64_t folderPageSize = 100;
  // The client version "check_version" offers, and the archive
  // "download_update" sends (none: 404).
  std::string clientVersion = PALVERO_SERVICE_CLIENT_VERSION;
  std::string updaterPath;
  // The support contact of "get_support_info".
  std::string supportOrganisation = "Palvero Support";
  std::string supportEmail = "support@palvero.invalid";
  std::string supportPhone = "+1 555 0100";
  // The request log file's size before it is rotated (one older file kept).
  int64_t requestLogBytes = 16 * 1024 * 1024;
  // Threads that serve connections (more are started while all are busy,
  // up to maxConnections), and how long one may wait for a client sending
  // (or reading) nothing, or take over one request body.
  size_t workerThreads = 64;
  size_t maxConnections = 512;
  int ioTimeoutSeconds = 20;
  int requestSeconds = 120;
  // "RequestPause" of the login and "load_settings" replies: the seconds a
  // client worker leaves between its paced requests (0: no pacing).
  double requestPause = 0;
};

// Everything a handler may use. Owned by the Service.
struct ServiceContext {
  const ServiceOptions& options;
  MetadataStore& metadata;
  AccountBlocks& blocks;
  BlobStore& versions;
  SessionTable& sessions;
  PartialUploads& partials;
  FaultInjector& faults;
  RequestLog& log;
};

enum class Access { kPublic, kSession };

using HandlerFn = std::function<void(ServiceContext&, const ServiceRequest&, ServiceReply&)>;

struct HandlerSpec {
  std::string kind;
  Access access = Access::kSession;
  HandlerFn fn;
};

class HandlerRegistry {
 public:
  static HandlerRegistry& instance();
  void add(HandlerSpec spec);
  const HandlerSpec* find(const std::string& kind) const;
  std::vector<std::string> kinds() const;

 private:
  std::map<std::string, HandlerSpec> handlers_;
};

struct HandlerRegistration {
  HandlerRegistration(std::string kind, Access access, HandlerFn fn);
};

}  // namespace palvero::service
