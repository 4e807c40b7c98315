// The version text of one revision (doc/formats.md): writer and reader. The
// engine's FormatFileVersionInfo: and ParseFileVersionInfo: live here, below
// the engine, so that every layer reads and writes the same text.
//
// The reader is forgiving in the ways stored texts need: the description may
// sit on any line; parts and blocks are read from the second line on; empty
// and unknown lines are skipped; a block line before any part line is
// ignored; an unreadable block line is skipped; an unreadable part line ends
// the text (what was read so far is kept); block positions are renumbered
// 0, 1, 2 ... per part.
//
// Thread contract: pure functions; safe from any thread.
#pragma once

#include <optional>
#include <string>

#include "engine/format/FileDesc.h"

namespace palvero {

class VersionFile {
 public:
  // The version text of `desc`; on an error logs "Error in parsing file
  // version info: %@. Exception: %@" and returns the empty text.
  static std::string FormatFileVersionInfo(const FileDesc& desc);
  // The description with its parts and blocks, or nothing when no line reads
  // as a description.
  static std::optional<FileDesc> ParseFileVersionInfo(const std::string& text);
};

}  // namespace palvero
