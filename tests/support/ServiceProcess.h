// Runs a palvero-service for a test: starts the binary on a free loopback port
// with its own temporary data folder and test control on, reads the address
// it prints, and stops it (SIGTERM) when the object goes away. Tests use it to
// drive the real client code against a real server and to look behind it:
//
//   ServiceProcess service;                        // started and ready
//   auto device = service.enrolDevice("ann", "pw");  // account + device
//   ServiceProcess::useCredentials(device);        // into LocalSettings
//   auto server = CommunicationServer::create(service.url(), std::make_shared<HttpClient>());
//   service.addFault("get_block:429:3");           // next three get_block
//   ... run the client ...
//   auto sent = service.requests("get_block");     // what the client sent
//
// Each request-log entry is a JSON object: "kind", "fields" (decoded form or
// multipart text fields), "files" ([{"name","filename","size"}]), "headers"
// (User-Agent, Cookie, Content-Type, Content-Length, Expect as sent),
// "body" (raw URL-encoded form), "status" (0 for a cut connection), "fault"
// (the rule applied), "reply" (short text replies).
//
// Fault rules: KIND:ACTION[:COUNT][:skip=K] with ACTION a status (400-599),
// drop, reset, delay=MS, malformed or body=TEXT (URL-encoded; 200 with that
// text) (service/README.md).
//
// The binary is found through the environment variable
// PALVERO_SERVICE_BINARY, else the compile definition of the same name
// (tests/integration/CMakeLists.txt sets both). Instances in parallel test
// processes do not interfere. Loopback is added to no_proxy so that a proxy
// in the environment is not used for the service.
//
// Thread contract: one thread uses an instance; control calls block until
// the service has answered.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "base/Value.h"

namespace palvero::testing {

class ServiceProcess {
 public:
  struct Options {
    std::vector<std::string> users;   // "NAME:PASSWORD", as --add-user
    std::vector<std::string> faults;  // rules, as --fault
    std::vector<std::string> extraArgs;
    // Written to the service's standard input (passwords of --add-user NAME).
    std::string standardInput;
    // Skip the flush of stored objects: faster tests; a test of crash
    // safety turns it back on.
    bool noFsync = true;
    // Without it the control calls below fail (the service answers 404).
    bool testControl = true;
    // Reuse a data folder (a restart); empty makes a fresh temporary one
    // that the destructor removes.
    std::string dataDir;
    int port = 0;
  };

  // The device identity a test hands to the client.
  struct Credentials {
    std::string username;
    std::string clientId;  // the device id
    std::string password;  // the device pass
    std::string userCipher;
    std::string accountCipher;
    Value loginReply;  // the whole "register" reply
  };

  ServiceProcess();
  explicit ServiceProcess(Options options);
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  static std::string binaryPath();

  // "http://127.0.0.1:PORT/server.php"
  const std::string& url() const { return url_; }
  int port() const { return port_; }
  const std::string& dataDir() const { return dataDir_; }
  pid_t pid() const { return pid_; }

  // Stops with SIGTERM and waits; the data folder stays until destruction.
  void stop();
  // SIGKILL, for crash tests.
  void kill();
  // Starts again on the same port with the same data folder.
  void restart();
  // SIGKILL, then a new process on the same port and data folder.
  void crashAndRestart();

  // Adds an account (or sets its password); returns {"ClientId","Password"}.
  Value addUser(const std::string& name, const std::string& password, int maxDevices = 0);
  // Logs in as the user and registers a new device, as the wizard would.
  Credentials enrolDevice(const std::string& name, const std::string& password,
                          const std::string& deviceName = "test-device");
  // Adds an account and enrols one device in it.
  Credentials newDevice(const std::string& name = "tester", const std::string& password = "secret");
  // Puts the device identity and ciphers into LocalSettings and saves.
  static void useCredentials(const Credentials& credentials);

  void addFault(const std::string& rule);
  void clearFaults();
  void expireSessions();
  void blockUser(const std::string& name, bool blocked = true);

  // Every logged request (newest 10,000), oldest first.
  Value requestLog();
  // The logged requests of one kind, oldest first.
  std::vector<Value> requests(const std::string& kind);
  void clearLog();
  // Status reports and hardware identifiers received.
  Value reports();
  // {"held": bool, "size": bytes} of a stored block name, in the user's
  // account, or in any when `user` is empty.
  Value block(const std::string& name, const std::string& user = "");
  // Where the block file of that name lies for the account with that id
  // (accounts are numbered from 1 in the order they were made).
  std::string storedBlockPath(const std::string& name, int64_t accountId) const;
  // Damages a stored block (by its checksum; held plain or packed): "flip"
  // inverts one byte in the middle (twice gives the block back), "remove"
  // deletes it. Returns the storage name damaged; throws when not held.
  std::string damageBlock(const std::string& name, const std::string& how);
  // The revisions stored for (owner, path).
  Value versions(const std::string& owner, const std::string& path);
  // Sets what an administrator configured for an account's settings type
  // (a JSON object merged over what its devices saved; "login" is merged
  // into the login reply); "" removes it.
  void setAdminSettings(const std::string& user, const std::string& type, const std::string& json);
  // What a device (or account) saved under a settings type; null when nothing.
  Value savedSettings(const std::string& owner, const std::string& type);

  // A raw control request; throws std::runtime_error on a failure status.
  std::string control(const std::vector<std::pair<std::string, std::string>>& fields);

  // Raw requests to /server.php, bypassing the client's code.
  struct RawReply {
    int status = 0;  // 0 when the connection failed
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // The first header of that name (exact case), or "".
    std::string header(const std::string& name) const;
  };
  struct RawFile {
    std::string name;  // "file", "file[]"
    std::string filename;
    std::string content;
  };
  // A URL-encoded form, sent as it is.
  RawReply post(const std::string& form, const std::string& cookie = "");
  // A multipart form with text fields and file parts.
  RawReply postMultipart(const std::vector<std::pair<std::string, std::string>>& fields,
                         const std::vector<RawFile>& files, const std::string& cookie = "");
  // Opens a session for the device and returns its "PVSESSID=..." cookie.
  std::string sessionCookie(const Credentials& credentials);

 private:
  void start();

  Options options_;
  std::string dataDir_;
  bool ownsDataDir_ = false;
  std::string url_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace palvero::testing
