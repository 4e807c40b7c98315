#include "app/InstanceTakeover.h"

#include <thread>

#include "platform/Process.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

std::string baseName(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

InstanceTakeover::Holder InstanceTakeover::classify(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return Holder::kUnknown;
  std::string program = baseName(arguments[0]);
  if (program == "palvero-desktop") return Holder::kDesktop;
  if (program != "palvero") return Holder::kUnknown;
  // Global options may come first ("palvero --server URL daemon").
  for (size_t i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == "daemon") return Holder::kDaemon;
  }
  return Holder::kCommand;
}

InstanceTakeover::Holder InstanceTakeover::holder(std::optional<long> pid) {
  if (!pid) return Holder::kUnknown;
  return classify(Process::arguments(*pid));
}

std::unique_ptr<InstanceLock> InstanceTakeover::stopDaemonAndLock(long pid, std::chrono::milliseconds timeout) {
  if (holder(pid) != Holder::kDaemon || !Process::requestTermination(pid)) return nullptr;
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther,
                                     "Stopping the background Palvero (process " + std::to_string(pid) + ")",
                                     kLogFailure);
  // The daemon may finish writing a batch first; the lock is polled, since
  // its holder is another process and has nobody to tell us.
  auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto lock = std::make_unique<InstanceLock>();
    if (lock->acquired()) return lock;
    if (std::chrono::steady_clock::now() >= end) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace palvero
