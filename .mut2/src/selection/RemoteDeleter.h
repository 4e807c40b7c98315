// Sends the server the immediate deletion of one path's versions (the old
// path of a renamed folder), behind one small interface so that tests can
// stand in for the server. The installed deleter makes a fresh server client
// for each request unless a test replaced it.
//
// Thread contract: current() and setCurrent() are safe from any thread;
// deletePathImmediately() blocks on the network and may run on any thread.
#pragma once

#include <memory>
#include <string>

namespace palvero {

class RemoteDeleter {
 public:
  virtual ~RemoteDeleter() = default;

  // True when the server confirmed the deletion of `path` (a plain path; the
  // deleter encodes it for the request).
  virtual bool deletePathImmediately(const std::string& path) = 0;

  static std::shared_ptr<RemoteDeleter> current();
  // Installs `deleter`; nullptr restores the server client's.
  static void setCurrent(std::shared_ptr<RemoteDeleter> deleter);
};

}  // namespace palvero
