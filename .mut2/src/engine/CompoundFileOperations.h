// Compound files: office containers (DOCX, XLSX, PPTX) whose revision may be
// stored as one part per member, each named by the member's path inside the
// container. Restoring such a revision writes every member into a scratch
// folder and joins them into one zip container (DeltaHandler's
// RestoreFile(target, desc) drives it).
//
// Thread contract: pure functions and per-call objects; safe from any
// thread. Each worker has its own scratch folder, so two workers restoring
// files of the same name never share one.
#pragma once

#include <string>
#include <vector>

#include "engine/format/FilePart.h"

namespace palvero {

class CompoundFileOperations {
 public:
  // True when the file name's extension, in upper case, is DOCX, XLSX or
  // PPTX (a name without extension is not compound).
  static bool IsCompoundFile(const std::string& path);

  // The scratch folder of a compound restore of `FileName` by the worker
  // `ThreadIndex`: "<worker scratch>/<last component of FileName>.zip" (a
  // folder, despite its name). Empty when the worker's scratch folder
  // cannot be made.
  static std::string GetTempPath(const std::string& FileName, const std::string& ThreadIndex);

  // Whether a member name can be written beneath a scratch folder and
  // stored as a zip entry name: not empty, relative, no empty, "." or ".."
  // component, no backslash and no NUL.
  static bool isSafePartName(const std::string& PartName);

  // Packs the members `parts` (found at Path + "/" + PartName) in that order
  // into one zip archive at `target`, each entry named by its PartName and
  // dated by the member file's modification time. The archive is built
  // under a temporary name and renamed into place when complete, so a
  // failed join leaves nothing at `target`.
  static bool ZipCompoundFile(const std::string& target, const std::string& Path, const std::vector<FilePart>& parts,
                              const std::string& ThreadIndex);
};

}  // namespace palvero
