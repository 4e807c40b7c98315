#include "engine/format/Compressor.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <optional>

#include "base/Date.h"
#include "base/StringFormat.h"
#include "engine/format/BlockDeflater.h"
#include "engine/format/ZipArchive.h"
#include "engine/format/ZipEntryName.h"
#include "engine/format/ZipReader.h"
#include "engine/format/ZipWriter.h"
#include "platform/PrivateFiles.h"
#include "platform/Env.h"
#include "state/LogWriter.h"

namespace palvero {
namespace fs = std::filesystem;
namespace {

void logFailure(const std::string& text) {
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, text, kLogFailure);
}

struct Candidate {
  size_t index;
  std::vector<std::string> components;
  bool directory;
};

// The entry that extracting everything and then descending into the first
// name of each folder level would reach; nothing when that is a folder.
std::optional<size_t> entryFullExtractionReaches(std::vector<Candidate> candidates) {
  for (size_t depth = 0;; ++depth) {
    std::erase_if(candidates, [depth](const Candidate& c) { return c.components.size() <= depth; });
    if (candidates.empty()) return std::nullopt;
    const std::string& first =
        std::min_element(candidates.begin(), candidates.end(), [depth](const Candidate& a, const Candidate& b) {
          return a.components[depth] < b.components[depth];
        })->components[depth];
    std::string name = first;
    std::erase_if(candidates, [&](const Candidate& c) { return c.components[depth] != name; });
    bool deeper = std::any_of(candidates.begin(), candidates.end(),
                              [depth](const Candidate& c) { return c.components.size() > depth + 1; });
    if (deeper) continue;
    // Only entries ending here remain; the last one written wins on disk.
    const Candidate& last = candidates.back();
    if (last.directory) return std::nullopt;
    return last.index;
  }
}

}  // namespace

bool Compressor::CompressPackageStream(const Bytes& source, Bytes& TargetStream, const std::string& PartName,
                                       const std::string& /*_ContentType*/, std::string& ErrorText, int32_t& ErrorType,
                                       const std::string& /*ThreadIndex*/) {
  std::string reason;
  try {
    deflater_.deflate(source, deflated_);
    // Room for the stream and two headers with the name.
    TargetStream.reserve(deflated_.size() + 2 * PartName.size() + 256);
    ZipWriter writer;
    if (!writer.openMemory(TargetStream)) {
      reason = "cannot start the archive";
    } else if (!writer.addDeflatedEntry(PartName, deflated_, source.size(), BlockDeflater::crc32(source),
                                        Date::now())) {
      reason = "cannot add the entry " + PartName;
    } else if (!writer.close()) {
      reason = "cannot finish the archive";
    } else {
      return true;
    }
  } catch (const std::exception& e) {
    reason = e.what();
  }
  TargetStream.clear();
  ErrorText = stringWithFormat("Could not compress file, general stream:%s", reason.c_str());
  ErrorType = 1;
  logFailure(stringWithFormat("Exception in CompressPackageStream: %s", reason.c_str()));
  return false;
}

bool Compressor::DecompressFromStream(const Bytes& source, Bytes& TargetStream, bool /*LogExceptions*/,
                                      const std::string& /*TempDir*/, const std::string& /*ThreadIndex*/,
                                      uint64_t maxSize) {
  std::string reason;
  try {
    ZipReader reader;
    if (!reader.openMemory(source)) {
      // Not an archive: the expected answer for a version text sent plain.
      TargetStream.clear();
      return false;
    }
    std::vector<Candidate> candidates;
    ZipReader::Step step = reader.first();
    for (size_t index = 0; step == ZipReader::Step::kEntry; step = reader.next(), ++index) {
      auto info = reader.currentInfo();
      if (!info) {
        step = ZipReader::Step::kError;
        break;
      }
      candidates.push_back({index, ZipEntryName::components(info->name), info->isDirectory()});
    }
    std::optional<size_t> chosen;
    if (step == ZipReader::Step::kError) {
      reason = "damaged central directory";
    } else if (!(chosen = entryFullExtractionReaches(std::move(candidates)))) {
      reason = "the archive holds no file";
    } else {
      step = reader.first();
      for (size_t index = 0; index < *chosen && step == ZipReader::Step::kEntry; ++index) step = reader.next();
      if (step != ZipReader::Step::kEntry) {
        reason = "damaged central directory";
      } else if (reader.readCurrent(TargetStream, maxSize, reason)) {
        return true;
      }
    }
  } catch (const std::exception& e) {
    reason = e.what();
  }
  logFailure(stringWithFormat("Exception in DecompressFromStream: %s", reason.c_str()));
  logFailure(
      stringWithFormat("Details: source stream length: %zu ; target length: %zu", source.size(), TargetStream.size()));
  TargetStream.clear();
  return false;
}

std::string Compressor::getFullPath(const std::string& folder) {
  std::string current = folder;
  std::error_code ec;
  while (fs::is_directory(fs::symlink_status(current, ec))) {
    std::optional<std::string> first;
    for (const auto& entry : fs::directory_iterator(current, ec)) {
      std::string name = entry.path().filename().string();
      if (!first || name < *first) first = name;
    }
    if (!first) break;
    current += "/" + *first;
  }
  return current;
}

bool Compressor::unzipUpdater() {
  try {
    std::string support = Env::supportDirectory();
    std::string archivePath = support + "/updater.zip";
    std::string folder = support + "/Updater";
    struct stat st {};
    if (::stat(archivePath.c_str(), &st) != 0) return false;
    ZipArchive archive;
    bool ok = archive.UnzipOpenFile(archivePath);
    if (ok) {
      ok = archive.UnzipFileTo(folder, true);
      ok = archive.UnzipCloseFile() && ok;
    }
    std::error_code ec;
    fs::remove(archivePath, ec);
    if (!ok) {
      fs::remove_all(folder, ec);
      logFailure(stringWithFormat("Exception in unzipUpdater: %s", "cannot extract updater.zip"));
    }
    return ok;
  } catch (const std::exception& e) {
    logFailure(stringWithFormat("Exception in unzipUpdater: %s", e.what()));
    return false;
  }
}

bool Compressor::CompressFromStreamCompound(const std::vector<FilePart>& parts, const std::string& ResultPath,
                                            const std::string& OriginalPath, const std::string& /*ThreadIndex*/) {
  try {
    ZipArchive archive;
    if (!archive.CreateZipFile2(ResultPath)) return false;
    for (const FilePart& part : parts) {
      if (!archive.addFileToZip(OriginalPath + "/" + part.PartName, part.PartName)) return false;
    }
    return archive.CloseZipFile2();
  } catch (const std::exception& e) {
    logFailure(stringWithFormat("Exception in CompressFromStreamCompound: %s", e.what()));
    return false;
  }
}

std::string Compressor::scratchFolder(const std::string& ThreadIndex) {
  // Restores write decrypted pieces of the user's files here.
  std::string caches = Env::cachesDirectory() + "/PalveroCaches";
  std::string folder = caches + "/" + ThreadIndex;
  if (!PrivateFiles::ensureFolder(caches) || !PrivateFiles::ensureFolder(folder)) return {};
  return folder;
}

}  // namespace palvero
