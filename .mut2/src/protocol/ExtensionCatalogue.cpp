#include "protocol/ExtensionCatalogue.h"

#include <mutex>

namespace palvero {
namespace {

std::mutex gMutex;
std::shared_ptr<ExtensionCatalogue>& slot() {  // guarded by gMutex
  static auto* installed = new std::shared_ptr<ExtensionCatalogue>();
  return *installed;
}
std::function<std::shared_ptr<ExtensionCatalogue>()>& defaultMaker() {  // guarded by gMutex
  static auto* maker = new std::function<std::shared_ptr<ExtensionCatalogue>()>();
  return *maker;
}

}  // namespace

std::shared_ptr<ExtensionCatalogue> ExtensionCatalogue::current() {
  std::lock_guard lock(gMutex);
  if (!slot() && defaultMaker()) slot() = defaultMaker()();
  return slot();
}

void ExtensionCatalogue::setCurrent(std::shared_ptr<ExtensionCatalogue> catalogue) {
  std::lock_guard lock(gMutex);
  slot() = std::move(catalogue);
}

void ExtensionCatalogue::setDefaultMaker(std::function<std::shared_ptr<ExtensionCatalogue>()> maker) {
  std::lock_guard lock(gMutex);
  defaultMaker() = std::move(maker);
}

}  // namespace palvero
