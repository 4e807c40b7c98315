// Folders and files that only their owner may read: the support folder
// (database, logs), the scratch folders of the workers and what is in them.
// The log lines carry the session cookie and the scratch folders hold
// decrypted pieces of the user's files, so "private" is 0700 for a folder
// and 0600 for a file, whatever the umask; what an older build left more
// open is tightened when it is next used.
//
// Stateless; safe from any thread.
#pragma once

#include <string>

namespace palvero {

class PrivateFiles {
 public:
  static constexpr unsigned kFolderMode = 0700;
  static constexpr unsigned kFileMode = 0600;

  // Makes `path` (and missing parents, with the usual mode) and sets `path`
  // itself to 0700. False when it is not a folder afterwards.
  static bool ensureFolder(const std::string& path);
  // Sets an existing regular file to 0600; nothing for a missing one.
  static void tightenFile(const std::string& path);
  // Creates `path` empty with mode 0600 unless it exists, and tightens it.
  // False when it cannot be created.
  static bool ensureFile(const std::string& path);
};

}  // namespace palvero
