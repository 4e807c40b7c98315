#include "engine/format/FilePart.h"

#include "base/StringFormat.h"
#include "engine/format/TextFields.h"
#include "state/LogWriter.h"

namespace palvero {

std::string FilePart::ToVerFileString() const {
  std::string out = stringWithFormat("1|%s|%lld", PartName.c_str(), static_cast<long long>(Length));
  for (const FileBlock& block : FileBlocks) out += block.toVerFileString();
  return out;
}

std::optional<FilePart> FilePart::FromVerFileString(const std::string& line) {
  if (line.empty() || line[0] != '1') return std::nullopt;
  auto fields = textfields::split(line, '|');
  if (fields.size() < 3) {
    LogWriter::sharedLogger().logEntry(
        kGeneralLogEvent, kSessionOther,
        stringWithFormat("FromVerFileString exception: part line has %zu fields: %s", fields.size(), line.c_str()),
        kLogFailure);
    return std::nullopt;
  }
  FilePart part;
  part.PartName = std::string(fields[1]);
  part.Length = textfields::leadingInteger<int64_t>(fields[2]);
  return part;
}

}  // namespace palvero
