#include "protocol/WorkerActivity.h"

#include <memory>
#include <mutex>

namespace palvero {
namespace {

std::mutex gMutex;
std::shared_ptr<WorkerActivity::Stamper>& stamperSlot() {  // guarded by gMutex
  static auto* slot = new std::shared_ptr<WorkerActivity::Stamper>();
  return *slot;
}

}  // namespace

void WorkerActivity::setStamper(Stamper stamper) {
  std::lock_guard lock(gMutex);
  stamperSlot() = stamper ? std::make_shared<Stamper>(std::move(stamper)) : nullptr;
}

void WorkerActivity::stamp(Kind kind) {
  std::shared_ptr<Stamper> stamper;
  {
    std::lock_guard lock(gMutex);
    stamper = stamperSlot();
  }
  if (stamper) (*stamper)(kind);
}

}  // namespace palvero
