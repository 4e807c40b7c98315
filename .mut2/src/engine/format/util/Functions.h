// Shared utility operations of the engine and its callers: hexadecimal text
// of short blocks, file change times and the "yyyyMMdd HH:mm:ss" date texts.
//
// Every operation is a class operation, so an instance (the engine keeps one
// as `functions`) and the class are interchangeable. Each concern lives in its
// own Functions<Concern>.cpp; a new helper adds its declaration here under its
// own heading and its definition in a new file.
//
// Thread contract: every operation is safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/Date.h"
#include "engine/format/FilePart.h"

namespace palvero {

class Functions {
 public:
  // --- Hexadecimal (FunctionsHex.cpp) ---

  // Lower-case hexadecimal of every byte of `data`, two digits per byte. The
  // length label is kept for the callers' sake; all of `data` is written.
  static std::string HexStr(std::span<const uint8_t> data, size_t Length = 0);

  // --- Dates (FunctionsDate.cpp) ---

  // The current local time as "yyyyMMdd HH:mm:ss".
  static std::string getCurrentTime();

  // The later of the file's modification and creation (birth) times; when the
  // file system records no birth time, the modification time. Symbolic links
  // are not followed. On failure logs "Exception in GetFileDateTime: %@" and
  // returns nothing (there is no creation date to fall back on).
  static std::optional<Date> GetFileDateTime(const std::string& path);

  // The empty text gives Date::distantPast(); a text with "|" gives nothing;
  // anything else is read as "yyyyMMdd HH:mm:ss" in local time (nothing when
  // it does not match).
  static std::optional<Date> ParseModifiedDateTime(const std::string& text);

  // --- Folder listing (FunctionsFolder.cpp) ---

  // Every file at any depth below `directory` as a FilePart named by its path
  // relative to the folder, with its size, in the order the file system
  // returns the names; folders are descended into, not listed. The entries
  // of a folder the user cannot delete from (no write permission) are
  // skipped. Only regular files are listed: links are neither listed nor
  // followed, and pipes, sockets and devices are left out. `Pattern` is not
  // used. Empty when the folder cannot be read.
  static std::vector<FilePart> getListOfFilesFromDirectory(const std::string& directory, const std::string& Pattern);
  // Appends the files below `path` to `Array` as above, named relative to
  // `Fullpath` (the starting folder; `path` lies inside it).
  static void scanPath(const std::string& path, std::vector<FilePart>& Array, const std::string& Fullpath);

  // --- URL encoding (FunctionsUrl.cpp) ---

  // Form-value encoding: letters, digits and "-._~" are kept, a blank becomes
  // "+", every other byte "%XX" with upper-case digits. Text that is not
  // valid UTF-8 (a Linux file name may hold any bytes) is encoded byte for
  // byte, so nothing is lost; nothing is returned only after an internal
  // error, logged as "Exception in UrlEncode: %@".
  static std::optional<std::string> UrlEncode(const std::string& text);

  // --- Disk space (FunctionsDiskSpace.cpp) ---

  // The bytes an unprivileged writer may still use on the volume that holds
  // `path`. A path that does not exist yet is measured at its nearest
  // existing parent folder. -1 when nothing can be measured.
  static int64_t getFreeDiskspaceForPath(const std::string& path);
};

}  // namespace palvero
