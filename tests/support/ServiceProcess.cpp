#include "support/ServiceProcess.h"

#include <fcntl.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "state/LocalSettings.h"

extern char** environ;

namespace palvero::testing {
namespace fs = std::filesystem;

namespace {

void allowLoopbackWithoutProxy() {
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    const char* old = std::getenv(name);
    std::string value = old && *old ? std::string(old) + ",127.0.0.1,localhost" : "127.0.0.1,localhost";
    setenv(name, value.c_str(), 1);
  }
}

std::string makeTempDir() {
  std::string pattern = (fs::temp_directory_path() / "palvero-service-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  return buffer.data();
}

// Reads the first line of `fd`, waiting at most `timeout`.
std::string readLine(int fd, std::chrono::milliseconds timeout) {
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return {};
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char c;
    ssize_t n = ::read(fd, &c, 1);
    if (n <= 0) return {};
    if (c == '\n') return line;
    line.push_back(c);
  }
}

}  // namespace

ServiceProcess::ServiceProcess() : ServiceProcess(Options()) {}

ServiceProcess::ServiceProcess(Options options) : options_(std::move(options)) {
  allowLoopbackWithoutProxy();
  if (options_.dataDir.empty()) {
    dataDir_ = makeTempDir();
    ownsDataDir_ = true;
  } else {
    dataDir_ = options_.dataDir;
  }
  port_ = options_.port;
  start();
}

ServiceProcess::~ServiceProcess() {
  stop();
  if (ownsDataDir_) {
    std::error_code ec;
    fs::remove_all(dataDir_, ec);
  }
}

std::string ServiceProcess::binaryPath() {
  if (const char* path = std::getenv("PALVERO_SERVICE_BINARY"); path && *path) return path;
#ifdef PALVERO_SERVICE_BINARY
  return PALVERO_SERVICE_BINARY;
#else
  throw std::runtime_error("PALVERO_SERVICE_BINARY is not set");
#endif
}

void ServiceProcess::start() {
  std::vector<std::string> args = {binaryPath(), "--data", dataDir_, "--listen", "127.0.0.1:" + std::to_string(port_)};
  if (options_.testControl) args.push_back("--test-control");
  if (options_.noFsync) args.push_back("--no-fsync");
  for (const auto& user : options_.users) args.insert(args.end(), {"--add-user", user});
  for (const auto& fault : options_.faults) args.insert(args.end(), {"--fault", fault});
  args.insert(args.end(), options_.extraArgs.begin(), options_.extraArgs.end());
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  int inputFds[2] = {-1, -1};
  if (!options_.standardInput.empty()) {
    if (::pipe2(inputFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_adddup2(&actions, inputFds[0], STDIN_FILENO);
  }
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (inputFds[0] >= 0) {
    ::close(inputFds[0]);
    ssize_t written = ::write(inputFds[1], options_.standardInput.data(), options_.standardInput.size());
    (void)written;
    ::close(inputFds[1]);
  }
  if (rc != 0) {
    ::close(pipeFds[0]);
    throw std::runtime_error("cannot start " + args[0]);
  }
  pid_ = pid;
  std::string line = readLine(pipeFds[0], std::chrono::seconds(20));
  ::close(pipeFds[0]);
  size_t colon = line.rfind(':');
  size_t slash = line.find('/', colon == std::string::npos ? 0 : colon);
  if (line.rfind("http://", 0) != 0 || colon == std::string::npos || slash == std::string::npos) {
    kill();
    throw std::runtime_error("palvero-service did not report its address (got \"" + line + "\")");
  }
  // A restart listens on the same port: the address is left as it is, since
  // the test's own threads may be reading it meanwhile.
  if (url_ != line) url_ = line;
  port_ = std::stoi(line.substr(colon + 1, slash - colon - 1));
}

void ServiceProcess::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      // The exit status the thread sanitizer gives a process it reported in.
      if (WIFEXITED(status) && WEXITSTATUS(status) == 66) {
        ADD_FAILURE() << "palvero-service reported a data race (its report is on the test's error output)";
      }
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill();
}

void ServiceProcess::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void ServiceProcess::restart() {
  stop();
  start();
}

void ServiceProcess::crashAndRestart() {
  kill();
  start();
}

std::string ServiceProcess::control(const std::vector<std::pair<std::string, std::string>>& fields) {
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(30, 0);
  httplib::Params params;
  for (const auto& [key, value] : fields) params.emplace(key, value);
  auto result = client.Post("/control", params);
  if (!result) throw std::runtime_error("control request failed: " + httplib::to_string(result.error()));
  if (result->status != 200) throw std::runtime_error("control request refused: " + result->body);
  return result->body;
}

namespace {

ServiceProcess::RawReply toRawReply(const httplib::Result& result) {
  ServiceProcess::RawReply reply;
  if (!result) return reply;
  reply.status = result->status;
  reply.body = result->body;
  for (const auto& [name, value] : result->headers) reply.headers.emplace_back(name, value);
  return reply;
}

}  // namespace

std::string ServiceProcess::RawReply::header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (key == name) return value;
  }
  return {};
}

ServiceProcess::RawReply ServiceProcess::post(const std::string& form, const std::string& cookie) {
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(30, 0);
  httplib::Headers headers;
  if (!cookie.empty()) headers.emplace("Cookie", cookie);
  return toRawReply(client.Post("/server.php", headers, form, "application/x-www-form-urlencoded"));
}

ServiceProcess::RawReply ServiceProcess::postMultipart(const std::vector<std::pair<std::string, std::string>>& fields,
                                                       const std::vector<RawFile>& files, const std::string& cookie) {
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(30, 0);
  httplib::Headers headers;
  if (!cookie.empty()) headers.emplace("Cookie", cookie);
  httplib::MultipartFormDataItems items;
  for (const auto& [name, value] : fields) items.push_back({name, value, "", ""});
  for (const auto& file : files) items.push_back({file.name, file.content, file.filename, "application/octet-stream"});
  return toRawReply(client.Post("/server.php", headers, items));
}

std::string ServiceProcess::sessionCookie(const Credentials& credentials) {
  RawReply reply = post("request=auth&guid=" + credentials.clientId + "&password=" + credentials.password);
  std::string setCookie = reply.header("Set-Cookie");
  if (reply.body != "ok" || setCookie.empty()) throw std::runtime_error("auth failed: " + reply.body);
  return setCookie.substr(0, setCookie.find(';'));
}

Value ServiceProcess::addUser(const std::string& name, const std::string& password, int maxDevices) {
  std::vector<std::pair<std::string, std::string>> fields = {
      {"action", "add_user"}, {"user", name}, {"password", password}};
  if (maxDevices > 0) fields.emplace_back("max_devices", std::to_string(maxDevices));
  return Value::parse(control(fields));
}

ServiceProcess::Credentials ServiceProcess::enrolDevice(const std::string& name, const std::string& password,
                                                        const std::string& deviceName) {
  RawReply loginReply = post("request=register&username=" + name + "&password=" + password);
  Value login = Value::parse(loginReply.body, nullptr, false);
  if (loginReply.status != 200 || !login.is_object()) throw std::runtime_error("login failed: " + loginReply.body);
  std::string device = "{ \"ClientVersion\": \"2.1.0.0\", \"ComputerName\": \"" + deviceName +
                       "\", \"DeviceEncripting\": \"\", \"DeviceID\": \"\", \"DeviceType\": \"31\", \"Name\": \"" +
                       deviceName + "\" }";
  RawReply deviceReply = post("request=register_device&clientId=" + login["ClientId"].get<std::string>() +
                              "&password=" + password + "&device=" + device);
  Value registered = Value::parse(deviceReply.body, nullptr, false);
  if (deviceReply.status != 200 || !registered.is_object()) {
    throw std::runtime_error("device registration failed: " + deviceReply.body);
  }
  Credentials c;
  c.username = name;
  c.clientId = registered["DeviceID"].get<std::string>();
  c.password = registered["Pass"].get<std::string>();
  c.userCipher = login["UserCipher"].get<std::string>();
  c.accountCipher = login["AccountCipher"].get<std::string>();
  c.loginReply = login;
  return c;
}

ServiceProcess::Credentials ServiceProcess::newDevice(const std::string& name, const std::string& password) {
  addUser(name, password);
  return enrolDevice(name, password);
}

void ServiceProcess::useCredentials(const Credentials& credentials) {
  auto& settings = LocalSettings::sharedManager();
  settings.setClientId(credentials.clientId);
  settings.setPassword(credentials.password);
  settings.setUserCipher(credentials.userCipher);
  settings.setAccountCipher(credentials.accountCipher);
  settings.setUsername(credentials.username);
  settings.save();
}

void ServiceProcess::addFault(const std::string& rule) { control({{"action", "fault"}, {"rule", rule}}); }

void ServiceProcess::clearFaults() { control({{"action", "clear_faults"}}); }

void ServiceProcess::expireSessions() { control({{"action", "expire_sessions"}}); }

void ServiceProcess::blockUser(const std::string& name, bool blocked) {
  control({{"action", "block_user"}, {"user", name}, {"blocked", blocked ? "1" : "0"}});
}

Value ServiceProcess::requestLog() { return Value::parse(control({{"action", "log"}})); }

std::vector<Value> ServiceProcess::requests(const std::string& kind) {
  std::vector<Value> out;
  for (const auto& entry : requestLog()) {
    if (entry.value("kind", std::string()) == kind) out.push_back(entry);
  }
  return out;
}

void ServiceProcess::clearLog() { control({{"action", "clear_log"}}); }

Value ServiceProcess::reports() { return Value::parse(control({{"action", "reports"}})); }

Value ServiceProcess::block(const std::string& name, const std::string& user) {
  return Value::parse(control({{"action", "block"}, {"name", name}, {"user", user}}));
}

std::string ServiceProcess::storedBlockPath(const std::string& name, int64_t accountId) const {
  return dataDir_ + "/accounts/" + std::to_string(accountId) + "/blocks/" + name.substr(0, 2) + "/" + name;
}

std::string ServiceProcess::damageBlock(const std::string& name, const std::string& how) {
  return Value::parse(control({{"action", "damage_block"}, {"name", name}, {"how", how}})).value("damaged", "");
}

Value ServiceProcess::versions(const std::string& owner, const std::string& path) {
  return Value::parse(control({{"action", "versions"}, {"owner", owner}, {"path", path}}));
}

void ServiceProcess::setAdminSettings(const std::string& user, const std::string& type, const std::string& json) {
  control({{"action", "set_settings"}, {"user", user}, {"type", type}, {"data", json}});
}

Value ServiceProcess::savedSettings(const std::string& owner, const std::string& type) {
  return Value::parse(control({{"action", "settings"}, {"owner", owner}, {"type", type}}));
}

}  // namespace palvero::testing
