// Whole-file writes that a crash cannot tear: the bytes go to a temporary file
// beside the target, are flushed to disk, and the temporary file is renamed
// over the target; the folder is then flushed too.
#pragma once

#include <string>
#include <string_view>

namespace palvero {

class AtomicFile {
 public:
  // Writes `data` to `path` with permission `mode`. On failure the previous
  // file (if any) is left as it was, the temporary file is removed, false is
  // returned and `*error` (when given) says why.
  static bool write(const std::string& path, std::string_view data, unsigned mode, std::string* error = nullptr);
  // Reads a whole file; false when it cannot be opened or read.
  static bool read(const std::string& path, std::string& out);
};

}  // namespace palvero
