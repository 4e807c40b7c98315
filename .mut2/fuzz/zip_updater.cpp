// The updater download: the service's reply is written as "updater.zip",
// extracted into "Updater" and "PalveroUpdater.app" is moved up into the
// support folder.
//
// Besides not crashing: whatever the archive holds, nothing is written
// outside the support folder's "Updater" and "PalveroUpdater.app", no
// symbolic link is created, the archive itself is gone afterwards, and the
// updater put in place is writable by its owner only.
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "FuzzHome.h"
#include "FuzzTransport.h"
#include "platform/Env.h"
#include "protocol/CommunicationServer.h"

using namespace palvero;
namespace fs = std::filesystem;

namespace {

std::shared_ptr<fuzz::FuzzTransport> gTransport;
std::shared_ptr<CommunicationServer> gServer;

// Everything below `root` except the two names the updater may create in
// the support folder; fails on any symbolic link.
void checkNothingStrayed(const std::string& root, const std::string& support) {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::none, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path& path = it->path();
    if (fs::is_symlink(it->symlink_status(ec))) fuzz::fail("a symbolic link was created: " + path.string());
    std::string text = path.string();
    bool updaterTree = text.rfind(support + "/Updater", 0) == 0 || text.rfind(support + "/PalveroUpdater.app", 0) == 0;
    if (updaterTree || it->is_directory(ec)) continue;
    if (path.filename() == "updater.zip") fuzz::fail("the archive was left behind: " + text);
    if (path.parent_path() == support && path.extension() == ".log") continue;
    if (text.rfind(root + "/.config/", 0) == 0) continue;
    fuzz::fail("written outside the updater's folders: " + text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::FuzzHome::setUp();
  gTransport = std::make_shared<fuzz::FuzzTransport>();
  gServer = CommunicationServer::create("http://127.0.0.1:9/server.php", gTransport);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& home = fuzz::FuzzHome::setUp();
  const std::string support = Env::supportDirectory();
  gTransport->setReply(std::string(reinterpret_cast<const char*>(data), size));
  gServer->downloadUpdate(11);
  fuzz::settleAsyncWork();
  checkNothingStrayed(home, support);
  std::error_code ec;
  struct stat st {};
  std::string moved = support + "/PalveroUpdater.app";
  if (::lstat(moved.c_str(), &st) == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    fuzz::fail("the updater is writable by others");
  }
  fs::remove_all(support + "/Updater", ec);
  fs::remove_all(moved, ec);
  return 0;
}
