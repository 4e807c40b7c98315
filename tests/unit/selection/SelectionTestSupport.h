// Fixture pieces shared by the selection tests: a temporary home with the
// selection singletons reset around each test.
#pragma once

#include "selection/CommonExtensions.h"
#include "support/TempHome.h"

namespace palvero::testing {

class SelectionHome : public TempHome {
 public:
  SelectionHome() { CommonExtensions::resetForTesting(); }
  ~SelectionHome() { CommonExtensions::resetForTesting(); }
};

}  // namespace palvero::testing
