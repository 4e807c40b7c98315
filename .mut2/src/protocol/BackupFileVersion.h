// One stored revision of a backed-up file, as the folder listings give it.
// Restore planning picks revisions by `date` and asks for them by `number`.
//
// Plain value type.
#pragma once

#include <cstdint>
#include <optional>

#include "base/Date.h"

namespace palvero {

struct BackupFileVersion {
  int64_t number = 0;
  int64_t size = 0;
  // Nothing when the service's "modified" text was in neither known form.
  std::optional<Date> date;
};

}  // namespace palvero
