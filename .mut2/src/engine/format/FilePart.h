// One part of a revision: a plain file's only part covers the whole file; a
// compound file (an office container) has one per member, named by its path
// inside the container. Lists the part's blocks in file order.
//
// Version-text form: "1|PartName|Length" followed by the block lines.
//
// A plain value; safe to copy between threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/format/FileBlock.h"

namespace palvero {

class FilePart {
 public:
  std::string PartName;
  int64_t Length = 0;
  std::vector<FileBlock> FileBlocks;

  FilePart() = default;
  // `initWithParameters:Length:`
  FilePart(std::string partName, int64_t length) : PartName(std::move(partName)), Length(length) {}

  // The part line followed directly by its block lines (each with its own
  // leading line feed).
  std::string ToVerFileString() const;
  // Reads a part line: nothing when it does not begin with "1"; nothing, after
  // logging "FromVerFileString exception: %@", when it splits at "|" into
  // fewer than 3 fields. Fields after the third are ignored.
  static std::optional<FilePart> FromVerFileString(const std::string& line);

  bool operator==(const FilePart&) const = default;
};

}  // namespace palvero
