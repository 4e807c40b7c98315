#include "engine/CompoundFileOperations.h"

#include <algorithm>
#include <cctype>

#include "engine/RestoreFileOperations.h"
#include "engine/format/Compressor.h"

namespace palvero {

bool CompoundFileOperations::IsCompoundFile(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string extension = RestoreFileOperations::splitExtension(name).second;
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return extension == "DOCX" || extension == "XLSX" || extension == "PPTX";
}

std::string CompoundFileOperations::GetTempPath(const std::string& FileName, const std::string& ThreadIndex) {
  std::string worker = Compressor::scratchFolder(ThreadIndex.empty() ? std::string("r0") : ThreadIndex);
  if (worker.empty()) return {};
  std::string name = FileName;
  while (!name.empty() && name.back() == '/') name.pop_back();
  size_t slash = name.rfind('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  if (name.empty() || name == "." || name == "..") name = "compound";
  return worker + "/" + name + ".zip";
}

bool CompoundFileOperations::isSafePartName(const std::string& PartName) {
  if (PartName.empty() || PartName.front() == '/') return false;
  if (PartName.find('\\') != std::string::npos || PartName.find('\0') != std::string::npos) return false;
  size_t start = 0;
  while (start <= PartName.size()) {
    size_t end = PartName.find('/', start);
    if (end == std::string::npos) end = PartName.size();
    std::string_view part(PartName.data() + start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

bool CompoundFileOperations::ZipCompoundFile(const std::string& target, const std::string& Path,
                                             const std::vector<FilePart>& parts, const std::string& ThreadIndex) {
  Compressor compressor;
  return compressor.CompressFromStreamCompound(parts, target, Path, ThreadIndex);
}

}  // namespace palvero
