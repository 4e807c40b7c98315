#include "protocol/ExtensionCatalogue.h"

#include <mutex>

namespace palvero {
namespace {

std::mutex gMutex;
std::shared_ptr<ExtensionCatalogue>& slot() {  // guarded by gMutex
  static auto* installed = new std::shared_ptr<ExtensionCatalogue>();
  return *installed;
}

}  // namespace

std::shared_ptr<ExtensionCatalogue> ExtensionCatalogue::current() {
  std::lock_guard lock(gMutex);
  return slot();
}

void ExtensionCatalogue::setCurrent(std::shared_ptr<ExtensionCatalogue> catalogue) {
  std::lock_guard lock(gMutex);
  slot() = std::move(catalogue);
}

}  // namespace palvero
