// Revisions of several parts (compound files, whose members are stored as
// parts and joined into one container on restore).
#include "base/StringFormat.h"
#include "engine/DeltaHandler.h"
#include "state/LogWriter.h"

namespace palvero {

bool DeltaHandler::RestoreFile(const std::string& target, const FileDesc& Desc) {
  // The member restore and the container join arrive with compound-file
  // support; until then such a revision fails without touching the target.
  log(kRestoreError, kSessionRestore,
      stringWithFormat("Restore error: %s. Ex: a revision of %zu parts cannot be restored by this version",
                       target.c_str(), Desc.FileParts.size()),
      kLogFailure);
  restoreError_ = "Compound file restore not available; Multiple parts file restore failed";
  return false;
}

}  // namespace palvero
