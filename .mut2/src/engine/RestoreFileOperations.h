// File helpers of the restore: short blocks back from their hexadecimal, the
// name a restored file is written under, and plain appends.
//
// Thread contract: every operation is safe from any thread.
#pragma once

#include <string>
#include <utility>

#include "base/Bytes.h"

namespace palvero {

class RestoreFileOperations {
 public:
  // Opens the existing file for update, appends `data`, closes it. False when
  // the file cannot be opened or written.
  static bool writeDataToFile(const Bytes& data, const std::string& File);

  // Blanks removed, then each pair of characters read as one base-16 byte:
  // an odd last character is ignored; a pair that is not hexadecimal gives
  // the value of its valid leading digits, or 0.
  static Bytes getDataFromHexString(const std::string& text);

  // The path a restored file is written to. When nothing is at `target`,
  // or `target` lies inside a bundle (see isInsideBundle), or with
  // `replaceFiles` unless `keepNewerLocal` and the local file was modified
  // after `changeTime` (a latest-state restore never replaces work done
  // since the last backup), `target` itself; otherwise a dated name beside it:
  // "<target without extension>(<changeTime>).<extension>", or
  // "<target>(<changeTime>)" without an extension. A leading dot of the
  // file name does not start an extension (".profile" has none).
  static std::string fileToWrite(const std::string& target, const std::string& changeTime, bool replaceFiles,
                                 bool keepNewerLocal);
  // True when `target` without its last extension, in lower case, contains
  // ".app", ".dmg", ".ipa" or ".lpdf": such files are always overwritten.
  static bool isInsideBundle(const std::string& target);
  // `target` split into the part before its last extension and the
  // extension (without the dot; empty when there is none).
  static std::pair<std::string, std::string> splitExtension(const std::string& target);
};

}  // namespace palvero
