#include "restore/WorkerRecord.h"

namespace palvero {

WorkerRecord::WorkerRecord(int64_t countIterator_, std::shared_ptr<BlockEngine> engine)
    : countIterator(countIterator_),
      deltaHandler(std::move(engine)),
      lastRequestMicros_(Date::now().timePoint().time_since_epoch().count()) {}

Date WorkerRecord::lastRequestDate() const {
  return Date(Date::TimePoint(std::chrono::microseconds(lastRequestMicros_.load())));
}

void WorkerRecord::setLastRequestDate(Date date) {
  lastRequestMicros_.store(date.timePoint().time_since_epoch().count());
}

}  // namespace palvero
