#include "engine/format/FileBlock.h"

#include <exception>

#include "base/NumberCast.h"
#include "base/StringFormat.h"
#include "base/Value.h"
#include "engine/format/TextFields.h"
#include "state/LogWriter.h"

namespace palvero {

FileBlock FileBlock::initWithSize(int64_t size, std::string andChecksum) {
  FileBlock block;
  block.length = size;
  block.checksum = std::move(andChecksum);
  return block;
}

std::string FileBlock::toJSONString() const {
  return stringWithFormat("{ \"size\": %lld, \"checksum\": \"%s\"}", static_cast<long long>(length), checksum.c_str());
}

std::optional<FileBlock> FileBlock::fromJSON(const std::string& text) {
  Value json = Value::parse(text, nullptr, false);
  if (!json.is_array() || json.empty() || !json[0].is_object()) return std::nullopt;
  const Value& first = json[0];
  auto size = first.find("size");
  auto checksum = first.find("checksum");
  if (size == first.end() || checksum == first.end() || !checksum->is_string()) return std::nullopt;
  int64_t length = 0;
  if (size->is_number()) {
    length = saturatingInteger<int64_t>(*size);
  } else if (size->is_string()) {
    length = textfields::leadingInteger<int64_t>(size->get<std::string>());
  } else {
    return std::nullopt;
  }
  return initWithSize(length, checksum->get<std::string>());
}

std::string FileBlock::blockListString(const std::vector<FileBlock>& blocks) {
  std::string out = "[";
  for (size_t i = 0; i < blocks.size(); ++i) {
    if (i > 0) out += ',';
    out += blocks[i].toJSONString();
  }
  out += ']';
  return out;
}

std::string FileBlock::toVerFileString() const {
  return stringWithFormat("\n2:%d:%s:%lld:%s:%d:%d", static_cast<int32_t>(position), checksum.c_str(),
                          static_cast<long long>(length), smallChecksum.c_str(), FirstCheckInt, LastCheckInt);
}

std::optional<FileBlock> FileBlock::fromVerFile(const std::string& line) {
  if (line.empty() || line[0] != '2') return std::nullopt;
  auto fields = textfields::split(line, ':');
  if (fields.size() < 5 || fields.size() == 6) {
    LogWriter::sharedLogger().logEntry(
        kGeneralLogEvent, kSessionOther,
        stringWithFormat("fromVerFile exception: block line has %zu fields: %s", fields.size(), line.c_str()),
        kLogFailure);
    return std::nullopt;
  }
  FileBlock block;
  block.position = textfields::leadingInteger<int32_t>(fields[1]);
  block.checksum = std::string(fields[2]);
  block.length = textfields::leadingInteger<int32_t>(fields[3]);
  block.smallChecksum = std::string(fields[4]);
  if (fields.size() >= 7) {
    block.FirstCheckInt = textfields::leadingInteger<int32_t>(fields[5]);
    block.LastCheckInt = textfields::leadingInteger<int32_t>(fields[6]);
  }
  return block;
}

bool FileBlock::equals(const FileBlock& other) const {
  return length == other.length && checksum == other.checksum && smallChecksum == other.smallChecksum;
}

size_t FileBlock::hash() const {
  std::hash<std::string> text;
  return text(checksum) * 31 + text(smallChecksum) + 961;
}

}  // namespace palvero
