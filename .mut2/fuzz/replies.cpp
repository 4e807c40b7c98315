// Every reader of the service's replies in the request layer, fed the fuzzed
// bytes as a successful (200) answer: the block check, the folder pages and
// the packed whole-folder listing, statistics, the largest files, the
// version check, login and device registration, settings and exclusions
// loads (stored through the real settings store and extension catalogue),
// the support contact, and the block JSON.
//
// Input: one byte chooses the request, the rest is the reply. Besides not
// crashing or throwing: the block check names only blocks it was asked
// about, a listing that reads has no nameless or negative entries taken
// from nowhere, and whatever a reply stored, the settings bodies the client
// sends back are still JSON.
#include <cstdint>
#include <set>
#include <string>

#include "FuzzHome.h"
#include "FuzzTransport.h"
#include "base/Value.h"
#include "engine/format/Compressor.h"
#include "engine/format/FileBlock.h"
#include "protocol/CommunicationServer.h"
#include "selection/CommonExtensionsCatalogue.h"
#include "state/LocalSettings.h"

using namespace palvero;

namespace {

std::shared_ptr<fuzz::FuzzTransport> gTransport;
std::shared_ptr<CommunicationServer> gServer;

std::vector<FileBlock> askedBlocks() {
  std::vector<FileBlock> blocks;
  for (const char* checksum : {"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08",
                               "60303ae22b998861bce3b28f33eec1be758a213c86c93c076dbe9f558c11c752", "48656c6c6f"}) {
    FileBlock block = FileBlock::initWithSize(5 + static_cast<int64_t>(blocks.size()), checksum);
    block.position = static_cast<int64_t>(blocks.size());
    blocks.push_back(block);
  }
  return blocks;
}

void checkBlocks() {
  auto asked = askedBlocks();
  std::set<std::string> names;
  for (const auto& block : asked) names.insert(block.checksum);
  if (auto missing = gServer->hasServerFileBlocks(asked)) {
    for (const auto& block : *missing) {
      if (!names.count(block.checksum)) fuzz::fail("the block check named a block it was not asked about");
    }
  }
}

void checkListing(const std::optional<BackupedFolder>& folder) {
  if (!folder) return;
  for (const auto& sub : folder->subFolders) {
    if (sub.type == BackupedFolder::kTypeFolder && sub.path.empty()) fuzz::fail("a listed folder without a path");
  }
}

void checkBodiesAreJson() {
  auto& settings = LocalSettings::sharedManager();
  for (const std::string& body : {settings.backupToJSON(), settings.toJSON(true), settings.toJSON(false),
                                  settings.clientToJSON(), settings.deviceToJSON(gServer->loginWithNewDevice())}) {
    if (!Value::accept(body)) fuzz::fail("a settings body is not JSON after a reply was stored:\n" + body);
  }
}

std::string packed(std::string_view text) {
  Compressor compressor;
  Bytes out;
  std::string error;
  int32_t errorType = 0;
  compressor.CompressPackageStream(Bytes(text.begin(), text.end()), out, "files.json", "Octet", error, errorType, "r0");
  return std::string(out.begin(), out.end());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::FuzzHome::setUp();
  CommonExtensionsCatalogue::install();
  gTransport = std::make_shared<fuzz::FuzzTransport>();
  gServer = CommunicationServer::create("http://127.0.0.1:9/server.php", gTransport);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto input = fuzz::Input::of(data, size);
  std::string reply(input.rest);
  gTransport->setReply(reply);
  switch (input.selector % 16) {
    case 0:
      checkBlocks();
      break;
    case 1:
      checkListing(gServer->getFolderWithPath("/home/ann", std::nullopt, (input.selector & 0x80) != 0));
      break;
    case 2:
      checkListing(gServer->getFolderWithPath("", std::string("device-2"), false));
      break;
    case 3:
      gTransport->setReply(packed(reply));
      checkListing(gServer->getGetFilesList("/", std::nullopt));
      break;
    case 4:
      checkListing(gServer->getGetFilesList("/home", std::string("device-2")));
      break;
    case 5:
      gServer->getStatisticByCategories();
      break;
    case 6:
      gServer->getTop10Files("Other", 3);
      break;
    case 7: {
      std::string versions;
      bool newer = gServer->syncCheckVersion(11, versions);
      HttpResponse shown;
      shown.body = reply;
      // What the caller shows is the reply cut for a message line.
      if (newer && versions != CommunicationServer::bodyForLog(shown)) {
        fuzz::fail("a newer version was found in another text than the reply");
      }
      break;
    }
    case 8:
      gServer->registerUsername("ann", "secret");
      break;
    case 9:
      gServer->registerDevice("client-1", "secret", gServer->loginWithNewDevice());
      break;
    case 10:
      gServer->loadSettings("client");
      break;
    case 11:
      gServer->loadSettings("backup");
      break;
    case 12:
      gServer->loadExclusions();
      break;
    case 13:
      gServer->getSupportInfo();
      break;
    case 14:
      gServer->checkVersion(11);
      break;
    case 15:
      // Checksums are hexadecimal when this client writes them.
      if (auto block = FileBlock::fromJSON(reply);
          block && block->checksum.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
        auto again = FileBlock::fromJSON("[" + block->toJSONString() + "]");
        if (!again || again->checksum != block->checksum || again->length != block->length) {
          fuzz::fail("a block's JSON does not read back: " + block->toJSONString());
        }
      }
      break;
  }
  fuzz::settleAsyncWork();
  checkBodiesAreJson();
  return 0;
}
