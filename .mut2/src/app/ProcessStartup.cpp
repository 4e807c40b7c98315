#include "app/ProcessStartup.h"

#include "base/RunLoop.h"
#include "protocol/ExtensionCatalogue.h"
#include "selection/CommonExtensionsCatalogue.h"

namespace palvero {

void ProcessStartup::start(std::shared_ptr<RunLoop> mainLoop) {
  if (mainLoop) RunLoop::setMain(std::move(mainLoop));
  installCollaborators();
}

void ProcessStartup::installCollaborators() {
  // current() makes the default when none is installed: the selection's
  // catalogue, unless a test put its own in place.
  if (!ExtensionCatalogue::current()) CommonExtensionsCatalogue::install();
}

}  // namespace palvero
