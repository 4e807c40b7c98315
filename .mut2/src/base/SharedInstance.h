// The holder behind a `shared…` accessor: creates the instance once on first
// use and, for tests, retires it so that the next use creates a fresh one.
// A retired instance stays allocated, because callers may still hold
// references to it.
//
//   Foo& Foo::sharedFoo() { return holder().get([] { return std::make_unique<Foo>(); }); }
//   void Foo::resetForTesting() { holder().reset(); }
//   (with `static SharedInstance<Foo>& holder() { static auto* h = new SharedInstance<Foo>(); return *h; }`)
//
// Thread contract: get() and reset() are safe from any thread; the factory
// runs under the holder's lock, so it must not use the same holder.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

namespace palvero {

template <class T>
class SharedInstance {
 public:
  template <class Factory>
  T& get(Factory&& make) {
    std::lock_guard lock(mutex_);
    if (!instance_) instance_ = make();
    return *instance_;
  }

  void reset() {
    std::lock_guard lock(mutex_);
    if (instance_) retired_.push_back(std::move(instance_));
  }

 private:
  std::mutex mutex_;
  std::unique_ptr<T> instance_;              // guarded by mutex_
  std::vector<std::unique_ptr<T>> retired_;  // guarded by mutex_
};

}  // namespace palvero
