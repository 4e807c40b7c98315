// Fixture of the restore tests: the engine fixture (a palvero-service with
// one enrolled device, a fake clock) plus a RestoreManager whose workers are
// real engines, run by this thread's main loop.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/RunLoop.h"
#include "base/StdRunLoop.h"
#include "base/StringFormat.h"
#include "engine/format/BlockCutter.h"
#include "engine/format/FileDesc.h"
#include "engine/format/Security.h"
#include "engine/format/VersionFile.h"
#include "integration/engine/EngineFixture.h"
#include "restore/RestoreManager.h"
#include "state/DBManager.h"
#include "state/FilesToRestore.h"

namespace palvero::testing {

class RestoreFixture : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    FilesToRestore::resetForTesting();
    loop_ = std::make_shared<StdRunLoop>();
    RunLoop::setMain(loop_);
    CommonExtensions::sharedExtensionsManager().setDefaultBackupFolder(home_.path());
    endObserver_ = NotificationCenter::defaultCenter().addObserver(RestoreManager::kRestoreEnd, nullptr,
                                                                   [this](const Notification& n) {
                                                                     ended_ = true;
                                                                     endInfo_ = n.userInfo;
                                                                   });
  }

  void TearDown() override {
    manager_.reset();
    NotificationCenter::defaultCenter().removeObserver(endObserver_);
    RunLoop::setMain(nullptr);
    EngineFixture::TearDown();
  }

  RestoreManager& manager(size_t workers = 3) {
    if (!manager_) {
      manager_ = std::make_unique<RestoreManager>(newServer(), CommonExtensions::sharedExtensionsManager());
      manager_->setWorkers(workers, [this] { return std::shared_ptr<BlockEngine>(newEngine()); });
    }
    return *manager_;
  }

  // Runs the main loop until the run ends; false after `seconds`.
  bool runToEnd(int seconds = 120) {
    return loop_->runUntil(
        [this] {
          // The reload pause is a timer on the fake clock.
          clock_->advance(std::chrono::milliseconds(100));
          return ended_;
        },
        std::chrono::seconds(seconds));
  }

  // Starts a run with `choice` and waits for its end.
  bool restoreWith(RestoreChoice choice, size_t workers = 3) {
    ended_ = false;
    manager(workers).setChoice(std::move(choice));
    manager_->saveChoice();
    manager_->restore();
    return runToEnd();
  }

  // Uploads a revision of `path` as the service lists it, without content
  // behind it (planning only): one inline block of `size` <= 256 bytes.
  void uploadRevision(const std::string& path, const std::string& modified, const std::string& content = "x") {
    FileDesc desc(Date::parse(modified, Date::kSettingsPattern), path, static_cast<int64_t>(content.size()));
    FilePart part(path, static_cast<int64_t>(content.size()));
    Bytes bytes = bytesFromString(content);
    if (!bytes.empty()) {
      FileBlock block;
      block.checksum = Functions::HexStr(bytes);
      block.length = static_cast<int64_t>(bytes.size());
      block.offset = 0;
      part.FileBlocks.push_back(block);
    }
    desc.FileParts.push_back(part);
    uploadDesc(desc, modified);
  }

  // Uploads `desc` as its path's next revision, encrypted as the client does.
  void uploadDesc(const FileDesc& desc, const std::string& modified) {
    Bytes text = bytesFromString(VersionFile::FormatFileVersionInfo(desc));
    std::string cipher = LocalSettings::sharedManager().userCipher().value_or("");
    if (!cipher.empty()) {
      Security security;
      ASSERT_TRUE(security.EncryptStream(text, cipher));
    }
    bool offline = false;
    ASSERT_TRUE(server_->updateFileVersionWithFilename(desc.FileName, desc.Length, modified, text, offline))
        << desc.FileName;
  }

  // Uploads one compound revision of `path` whose members are `members`
  // (name → content): members above 256 bytes go up as one encrypted block
  // each, unless their name is in `withheld` (then the block is left out,
  // so the revision names a block the service lacks).
  void uploadCompound(const std::string& path, const std::vector<std::pair<std::string, std::string>>& members,
                      const std::string& modified, const std::vector<std::string>& withheld = {}) {
    FileDesc desc(Date::parse(modified, Date::kSettingsPattern), path, 0);
    for (const auto& [name, content] : members) {
      Bytes bytes = bytesFromString(content);
      FilePart part(name, static_cast<int64_t>(bytes.size()));
      FileBlock block;
      block.length = static_cast<int64_t>(bytes.size());
      block.offset = 0;
      if (bytes.size() <= 256) {
        block.checksum = Functions::HexStr(bytes);
      } else {
        block.checksum = BlockCutter::sha256StringFromData(bytes);
        if (std::find(withheld.begin(), withheld.end(), name) == withheld.end()) {
          Security security;
          Bytes sealed = bytes;
          ASSERT_TRUE(security.EncryptStream(sealed, LocalSettings::sharedManager().accountCipher().value_or("")));
          bool offline = false;
          ASSERT_TRUE(server_->uploadDataBlockStream(sealed, block.checksum,
                                                     std::to_string(bytes.size()), offline));
        }
      }
      if (!bytes.empty()) part.FileBlocks.push_back(block);
      desc.Length += part.Length;
      desc.FileParts.push_back(part);
    }
    uploadDesc(desc, modified);
  }

  std::vector<std::string> failedPaths() {
    std::vector<std::string> out;
    for (const auto& failure : manager_->failedFiles()) out.push_back(failure.path);
    return out;
  }

  // Every regular file below `folder`, relative, sorted.
  static std::vector<std::string> filesBelow(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_regular_file()) out.push_back(std::filesystem::relative(it->path(), folder).string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  std::shared_ptr<StdRunLoop> loop_;
  std::unique_ptr<RestoreManager> manager_;
  NotificationCenter::Token endObserver_{};
  bool ended_ = false;
  Value endInfo_;
};

}  // namespace palvero::testing
