// Version files that arrive in parts ("finalpart" False ... True). Parts are
// kept in memory per (owner, path, session) until the final part completes
// the file; a new session starts a new upload, since the client starts over
// from the first part after renewing its session.
//
// A part may carry "offset" (its byte offset in the whole file). With it a
// repeated part overwrites what it repeats, a part at offset 0 starts over,
// and a part beyond the received end is refused as a gap. Without it parts
// are appended in arrival order.
//
// Uploads untouched for an hour are dropped.
//
// Thread contract: every member is safe from any thread.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>

namespace palvero::service {

class PartialUploads {
 public:
  using Key = std::tuple<std::string, std::string, std::string>;  // owner, path, session

  enum class Result { kAccepted, kGap };

  // Adds one part; `received` is set to the bytes held after it.
  Result addPart(const Key& key, std::optional<int64_t> offset, const std::string& data, int64_t* received = nullptr);
  // Removes and returns the assembled bytes.
  std::optional<std::string> take(const Key& key);
  size_t pending() const;

 private:
  struct Upload {
    std::string data;
    std::chrono::steady_clock::time_point touched;
  };
  void dropStale();

  mutable std::mutex mutex_;
  std::map<Key, Upload> uploads_;  // guarded by mutex_
};

}  // namespace palvero::service
