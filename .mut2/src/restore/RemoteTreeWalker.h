// Walks folder trees of the service breadth first with several listing
// requests in flight: each listing request waits 0.2 second after its reply,
// which on a tree of many folders would dominate the time of a restore when
// done one after another. Every thread has its own request object.
//
// Thread contract: walk() blocks the caller; `visit` runs on the walker's
// threads, one call at a time.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/BackupedFolder.h"

namespace palvero {

class CommunicationServer;

class RemoteTreeWalker {
 public:
  // Lists one folder through `server`; nothing when the listing failed.
  using Lister = std::function<std::optional<BackupedFolder>(CommunicationServer& server, const BackupedFolder& folder)>;
  // Called with each listed folder (or nothing for a failed listing of
  // `asked`); returns the sub-folders to walk next.
  using Visitor =
      std::function<std::vector<BackupedFolder>(const BackupedFolder& asked, const std::optional<BackupedFolder>& listed)>;

  RemoteTreeWalker(std::function<std::shared_ptr<CommunicationServer>()> newServer, size_t threads);

  // Walks from `roots`; a folder path is listed at most once.
  void walk(const std::vector<BackupedFolder>& roots, const Lister& list, const Visitor& visit);

 private:
  std::function<std::shared_ptr<CommunicationServer>()> newServer_;
  size_t threads_;
};

}  // namespace palvero
