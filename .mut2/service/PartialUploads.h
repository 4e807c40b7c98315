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
// Uploads untouched for an hour are dropped. Memory is bounded: an upload
// may not grow past `maxBytes`, a session may assemble at most
// `perSession` uploads at once, and all uploads together hold at most
// `totalBytes`.
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

  enum class Result { kAccepted, kGap, kTooLarge, kTooMany };

  PartialUploads(int64_t maxBytes, size_t perSession, int64_t totalBytes);

  // Adds one part; `received` is set to the bytes held after it. A part
  // that breaks a bound is refused and leaves the upload as it was.
  Result addPart(const Key& key, std::optional<int64_t> offset, const std::string& data, int64_t* received = nullptr);
  // Removes and returns the assembled bytes.
  std::optional<std::string> take(const Key& key);
  size_t pending() const;
  int64_t heldBytes() const;

 private:
  struct Upload {
    std::string data;
    std::chrono::steady_clock::time_point touched;
  };
  void dropStale();

  const int64_t maxBytes_;
  const size_t perSession_;
  const int64_t totalBytes_;
  mutable std::mutex mutex_;
  std::map<Key, Upload> uploads_;  // guarded by mutex_
  int64_t held_ = 0;               // guarded by mutex_: bytes of every upload
};

}  // namespace palvero::service
