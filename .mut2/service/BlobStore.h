// Named byte objects in a folder tree: blocks under their storage names,
// version files under random names. An object is written to a temporary file,
// flushed to disk, then renamed into place and its folder flushed, so a crash
// leaves either the whole object or none. Objects are never rewritten: a
// block's name is its content's checksum.
//
// Layout: <root>/<first two characters of the name>/<name>.
//
// Thread contract: every member is safe from any thread (the file system
// provides the atomicity; two writers of one name both end with the same
// content).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "SpoolFile.h"

namespace palvero::service {

class BlobStore {
 public:
  // `tmpDir` must be on the same file system as `root`. Without `durable`
  // nothing is flushed (faster, for throwaway stores only).
  BlobStore(std::string root, std::string tmpDir, bool durable);

  // Letters, digits, ".", "_" and "-", not starting with ".", 1 to 200
  // characters: nothing that could leave the folder.
  static bool isSafeName(std::string_view name);

  bool contains(const std::string& name) const;
  std::optional<std::string> read(const std::string& name) const;
  // Size in bytes, or nothing when absent.
  std::optional<int64_t> size(const std::string& name) const;
  // Stores every item whose name is not held yet. Throws std::runtime_error
  // on an I/O failure; items already renamed into place stay.
  void put(const std::vector<std::pair<std::string, std::string_view>>& items);
  // Stores spooled parts under their names, without copying their bytes;
  // names already held are left alone. Throws like put().
  void adopt(const std::vector<std::pair<std::string, SpoolFile*>>& items);
  bool remove(const std::string& name);
  std::string pathFor(const std::string& name) const;

 private:
  // Flushes every spooled part, in parallel; throws the first failure.
  static void syncAll(const std::vector<std::pair<std::string, SpoolFile*>>& items);

  const std::string root_;
  const std::string tmpDir_;
  const bool durable_;
};

// Flushes a folder so that a rename inside it survives a crash.
void syncDirectory(const std::string& path);

}  // namespace palvero::service
