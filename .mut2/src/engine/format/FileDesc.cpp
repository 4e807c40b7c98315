#include "engine/format/FileDesc.h"

#include "base/StringFormat.h"
#include "engine/format/TextFields.h"
#include "engine/format/util/Functions.h"
#include "platform/Env.h"

namespace palvero {

std::string FileDesc::ToVerFileString() const {
  std::string date = LastChangedData ? LastChangedData->format(Date::kSettingsPattern) : std::string();
  std::string out = stringWithFormat("0|%s|%lld|%s", FileName.c_str(), static_cast<long long>(Length), date.c_str());
  for (const FilePart& part : FileParts) {
    out += '\n';
    out += part.ToVerFileString();
  }
  return out;
}

std::optional<FileDesc> FileDesc::FromVerFileString(const std::string& line) {
  if (line.empty() || line[0] != '0') return std::nullopt;
  auto fields = textfields::split(line, '|');
  if (fields.size() < 4) return std::nullopt;
  // Invariant: the length and the date never contain "|", so a longer line is
  // a file name with "|" in it.
  size_t nameEnd = fields.size() - 2;
  std::string_view rest(line);
  size_t nameStart = fields[0].size() + 1;
  size_t nameLength = static_cast<size_t>(fields[nameEnd].data() - rest.data()) - 1 - nameStart;
  FileDesc desc;
  desc.FileName = std::string(rest.substr(nameStart, nameLength));
  desc.Length = textfields::leadingInteger<int64_t>(fields[nameEnd]);
  desc.LastChangedData = Functions::ParseModifiedDateTime(std::string(fields[nameEnd + 1]));
  return desc;
}

bool FileDesc::isLibraryFile() const {
  std::string prefix = Env::homeDirectory() + "/Library";
  return FileName.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace palvero
