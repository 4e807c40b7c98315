#include "engine/format/VersionFile.h"

#include <exception>

#include "base/StringFormat.h"
#include "engine/format/TextFields.h"
#include "state/LogWriter.h"

namespace palvero {

std::string VersionFile::FormatFileVersionInfo(const FileDesc& desc) {
  try {
    return desc.ToVerFileString();
  } catch (const std::exception& e) {
    LogWriter::sharedLogger().logEntry(
        kRestoreError, kSessionRestore,
        stringWithFormat("Error in parsing file version info: %s. Exception: %s", desc.FileName.c_str(), e.what()),
        kLogFailure);
    return std::string();
  }
}

std::optional<FileDesc> VersionFile::ParseFileVersionInfo(const std::string& text) {
  try {
    auto lines = textfields::split(text, '\n');
    std::optional<FileDesc> result;
    for (std::string_view line : lines) {
      result = FileDesc::FromVerFileString(std::string(line));
      if (result) break;
    }
    if (!result) return std::nullopt;

    FilePart* current = nullptr;
    int64_t counter = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
      std::string_view line = lines[i];
      if (line.empty()) continue;
      if (line[0] == '1') {
        auto part = FilePart::FromVerFileString(std::string(line));
        if (!part) break;
        result->FileParts.push_back(std::move(*part));
        current = &result->FileParts.back();
        counter = 0;
      } else if (line[0] == '2' && current) {
        auto block = FileBlock::fromVerFile(std::string(line));
        if (!block) continue;
        block->position = counter++;
        current->FileBlocks.push_back(std::move(*block));
      }
    }
    return result;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace palvero
