// The description of one revision of one backed-up file: its full local path,
// length, last change time (the later of modification and creation) and its
// parts (a plain file has exactly one).
//
// Version-text form: "0|FileName|Length|yyyyMMdd HH:mm:ss", then each part.
// VersionFile holds the whole-text writer and reader.
//
// A plain value; safe to copy between threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Date.h"
#include "engine/format/FilePart.h"

namespace palvero {

class FileDesc {
 public:
  std::string FileName;
  int64_t Length = 0;
  // Nothing when the change time could not be read.
  std::optional<Date> LastChangedData;
  std::vector<FilePart> FileParts;

  FileDesc() = default;
  // `initWithParameters:Name:Length:`
  FileDesc(std::optional<Date> lastChanged, std::string name, int64_t length)
      : FileName(std::move(name)), Length(length), LastChangedData(lastChanged) {}

  // The whole version text: description line, then for each part "\n" and
  // the part's text. No line feed after the last line. A missing change time
  // is written as an empty field (which reads back as the distant past).
  std::string ToVerFileString() const;
  // Reads a description line: nothing when it does not begin with "0" or
  // does not hold a name, a length and a date. The date field goes through
  // Functions::ParseModifiedDateTime. The name may itself contain "|": the
  // last two fields are the length and the date.
  static std::optional<FileDesc> FromVerFileString(const std::string& line);

  // True when FileName begins with the home folder followed by "/Library".
  bool isLibraryFile() const;

  bool operator==(const FileDesc&) const = default;
};

}  // namespace palvero
