// Zip archives on disk: the compound-file writer (create, add a file under an
// entry name, close) and the extractor (open, extract everything into a
// folder, close). Built on ZipWriter and ZipReader.
//
// The writer builds the archive beside its final path and renames it into
// place when it is closed, so a failed write never leaves a torn archive
// under the final name. The extractor checks every entry name first and
// refuses the whole archive when one is absolute or has a ".." component, or
// when the entries add up to more than the size limit; each file is written
// to a temporary name and renamed into place only when its data and CRC
// check out. Symbolic links are never created or followed into.
//
// Errors go to the delegate as "Failed", "Error occurs", "Error occurs while
// getting file info", "Failed to reading zip file" and "Failed to set
// attributes" (each followed by ": " and the detail).
//
// Thread contract: one archive object per thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace palvero {

class ZipReader;
class ZipWriter;

class ZipArchiveDelegate {
 public:
  virtual ~ZipArchiveDelegate() = default;
  virtual void ErrorMessage(const std::string& message) = 0;
  // Whether the existing file may be replaced when extracting without the
  // overwrite flag.
  virtual bool OverWriteOperation(const std::string& file) = 0;
};

class ZipArchive {
 public:
  // Default limit on the bytes one extraction may write.
  static constexpr uint64_t kDefaultMaxExtractedSize = uint64_t{4} << 30;

  explicit ZipArchive(ZipArchiveDelegate* delegate = nullptr);
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  bool CreateZipFile2(const std::string& path);
  // Adds the regular file `file` as a deflated entry named `newname`, dated
  // by the file's modification time.
  bool addFileToZip(const std::string& file, const std::string& newname);
  // Finishes the archive and moves it to the path given to CreateZipFile2.
  bool CloseZipFile2();

  bool UnzipOpenFile(const std::string& path);
  // Extracts every entry into `path` (created when missing). Without
  // `overWrite` the delegate is asked before an existing file is replaced
  // (no delegate means yes). Sub-folders are created; each file gets the
  // entry's date as its modification time and, for archives made on Unix,
  // the entry's permission bits (owner read and write always kept).
  bool UnzipFileTo(const std::string& path, bool overWrite);
  bool UnzipCloseFile();

  void setMaxExtractedSize(uint64_t bytes) { maxExtractedSize_ = bytes; }

 private:
  struct PlannedEntry {
    std::vector<std::string> components;
    bool directory;
  };
  enum class Extracted { kWritten, kSkipped, kFailed };

  void report(const char* message, const std::string& detail);
  void discardWriter();
  // The entries' names split and checked, and their total size; false (and
  // reported) when one is unsafe or the archive is too large or unreadable.
  bool planExtraction(const std::string& path, std::vector<PlannedEntry>& plan);
  // Writes the reader's current entry to `target` through a temporary file,
  // at most `room` bytes; adds what it wrote to `written`.
  Extracted extractCurrent(const std::string& target, bool overWrite, uint64_t room, uint64_t& written);

  ZipArchiveDelegate* const delegate_;
  std::unique_ptr<ZipWriter> writer_;
  std::string finalPath_;
  std::string tempPath_;
  std::unique_ptr<ZipReader> reader_;
  uint64_t maxExtractedSize_ = kDefaultMaxExtractedSize;
};

}  // namespace palvero
