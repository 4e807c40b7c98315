// The largest stored files of one category, a page of ten at a time, and the
// removal of one of them: its versions are deleted on the service and the
// file is left out of later backups.
//
// Thread contract: every operation blocks on the network; call it off the
// window's main thread. One instance per thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace palvero {

class CommunicationServer;

class LargestFiles {
 public:
  struct Entry {
    std::string path;      // the service's full path
    std::string name;      // its last component
    int64_t size = 0;
    std::string sizeText;  // "%.2f MB" or "%.2f GB"
  };

  // A fresh server client when `server` is null.
  explicit LargestFiles(std::shared_ptr<CommunicationServer> server = nullptr);

  // Renews the session, then page `page` (from 0) of `category`; nothing
  // when the session or the request fails (logged).
  std::optional<std::vector<Entry>> fetchPage(const std::string& category, int64_t page);
  // Renews the session and asks the service to delete every version of
  // `path`; on success the path joins the files excluded from backup (the
  // catalogue is saved). False when anything failed; nothing changed then.
  bool deleteFile(const std::string& path);

  // The path as the exclusion list and the deletion request name it: one
  // leading "/".
  static std::string rootedPath(const std::string& path);
  // The JSON list of the one path, before URL encoding.
  static std::string deletionList(const std::string& path);

 private:
  std::shared_ptr<CommunicationServer> server_;
};

}  // namespace palvero
