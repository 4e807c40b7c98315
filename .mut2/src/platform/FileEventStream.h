// The file-system event stream: reports, for every changed path under the
// watched folders, the path and flag bits in the values of the reference
// event service, so that the backup filter's rules read the same on every
// platform. Events are gathered for `latency` and handed over in one batch;
// a batch holds each (path, flags) pair once, in the order first seen.
//
// When events were lost (the kernel queue overflowed) or some folders cannot
// be watched (the watch table is full), the stream reports each watched root
// with kMustScanSubDirs so that the receiver rescans it instead of missing
// changes; with a full watch table it repeats that every
// `degradedRescanInterval`.
//
// Thread contract: start() and stop() from one controlling thread. Both
// callbacks run on the stream's own thread; a callback that blocks holds up
// the stream (the kernel keeps queueing meanwhile).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace palvero {

// Flag bits of one event.
namespace FileEventFlag {
inline constexpr uint32_t kNone = 0x0;
inline constexpr uint32_t kMustScanSubDirs = 0x1;
inline constexpr uint32_t kUserDropped = 0x2;
inline constexpr uint32_t kKernelDropped = 0x4;
inline constexpr uint32_t kRootChanged = 0x20;
inline constexpr uint32_t kItemCreated = 0x100;
inline constexpr uint32_t kItemRemoved = 0x200;
inline constexpr uint32_t kItemInodeMetaMod = 0x400;
inline constexpr uint32_t kItemRenamed = 0x800;
inline constexpr uint32_t kItemModified = 0x1000;
inline constexpr uint32_t kItemIsFile = 0x10000;
inline constexpr uint32_t kItemIsDir = 0x20000;
}  // namespace FileEventFlag

struct FileEvent {
  std::string path;
  uint32_t flags = 0;

  bool operator==(const FileEvent&) const = default;
};

class FileEventStream {
 public:
  struct Options {
    std::vector<std::string> paths;         // watched roots (folders)
    std::vector<std::string> ignoredPaths;  // folders whose events are dropped (our own files)
    std::chrono::milliseconds latency{3000};
    std::chrono::milliseconds degradedRescanInterval{600000};
    // Test hook: behave as if the kernel's watch table held this many watches
    // (0: the kernel's own limit).
    size_t watchLimitForTesting = 0;
  };
  using EventHandler = std::function<void(const std::vector<FileEvent>&)>;
  // A problem the user should know about (full watch table, lost events),
  // as one line of text.
  using WarningHandler = std::function<void(const std::string&)>;

  virtual ~FileEventStream() = default;

  // Starts watching; false (with a warning) when nothing could be watched.
  // Folders are watched from the moment their watch is added: setting up a
  // large tree takes a while and runs on the stream's thread.
  virtual bool start(const Options& options, EventHandler onEvents, WarningHandler onWarning) = 0;
  // Stops and waits for a running callback to return. Events queued or
  // gathered until then are handed over first, at once.
  virtual void stop() = 0;
  // Blocks until the watches of the roots are in place (or `timeout` passed);
  // returns whether they are.
  virtual bool waitUntilWatching(std::chrono::milliseconds timeout) = 0;

  // The platform's stream (inotify on Linux).
  static std::unique_ptr<FileEventStream> create();
};

}  // namespace palvero
