// The restore page's choices without the page: latest or as at a day and
// time, all data or the items ticked in the tree, the original place or
// another folder, and whether local files are replaced. Turns them into the
// restore run's choice, or says (as a localisation key) why it cannot.
//
// Thread contract: pure, except start(), which runs on the main thread.
#pragma once

#include <optional>
#include <string>

#include "app/RestoreSelection.h"
#include "base/Date.h"
#include "restore/RestoreChoice.h"

namespace palvero {

class RestoreQueueControl;

struct RestoreForm {
  static constexpr const char* kNothingChosen = "restoreNothingChosen";
  static constexpr const char* kNoDestination = "restoreNoDestination";
  static constexpr const char* kDestinationMissing = "restoreDestinationMissing";
  static constexpr const char* kNoDate = "restoreNoDate";
  static constexpr const char* kAlreadyRestoring = "restoreAlreadyRunning";

  bool latest = true;
  // The day from the calendar; its time of day is ignored.
  std::optional<Date> day;
  int hour = 0;
  int minute = 0;
  bool allData = false;
  bool originalPlace = true;
  std::string destination;
  bool replaceFiles = true;
  bool showDeleted = false;

  // The form as the last restore left it (the stored choices).
  static RestoreForm stored();
  // The point in time of a dated restore: the day at hour:minute, local time.
  std::optional<Date> pointInTime() const;
  // The run's choice, or nothing with `problem` set to the key of the text
  // that says why.
  std::optional<RestoreChoice> choice(const RestoreSelection& selection, std::string& problem) const;
  // Stores "replaceFiles", then starts a new run of `choice` (refused while
  // a restore runs: `problem` set, false).
  static bool start(RestoreQueueControl& control, const RestoreChoice& choice, bool replaceFiles, std::string& problem);
};

}  // namespace palvero
