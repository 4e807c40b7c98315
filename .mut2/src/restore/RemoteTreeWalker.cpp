#include "restore/RemoteTreeWalker.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

namespace palvero {

RemoteTreeWalker::RemoteTreeWalker(std::function<std::shared_ptr<CommunicationServer>()> newServer, size_t threads)
    : newServer_(std::move(newServer)), threads_(threads == 0 ? 1 : threads) {}

void RemoteTreeWalker::walk(const std::vector<BackupedFolder>& roots, const Lister& list, const Visitor& visit) {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<BackupedFolder> queue;   // guarded by mutex
  std::set<std::string> seen;         // guarded by mutex; device + "\n" + path
  size_t busy = 0;                    // guarded by mutex
  std::mutex visitMutex;

  auto keyOf = [](const BackupedFolder& f) { return f.deviceId + "\n" + f.type + "\n" + f.path + "\n" + f.name; };
  for (const auto& root : roots) {
    if (seen.insert(keyOf(root)).second) queue.push_back(root);
  }

  auto work = [&] {
    std::shared_ptr<CommunicationServer> server;
    std::unique_lock lock(mutex);
    while (true) {
      changed.wait(lock, [&] { return !queue.empty() || busy == 0; });
      if (queue.empty()) return;
      BackupedFolder folder = std::move(queue.front());
      queue.pop_front();
      ++busy;
      lock.unlock();
      if (!server) server = newServer_();
      std::optional<BackupedFolder> listed = server ? list(*server, folder) : std::nullopt;
      std::vector<BackupedFolder> next;
      {
        std::lock_guard visiting(visitMutex);
        next = visit(folder, listed);
      }
      lock.lock();
      for (auto& child : next) {
        if (seen.insert(keyOf(child)).second) queue.push_back(std::move(child));
      }
      --busy;
      changed.notify_all();
    }
  };

  std::vector<std::thread> pool;
  size_t extra = threads_ > 1 ? threads_ - 1 : 0;
  for (size_t i = 0; i < extra; ++i) pool.emplace_back(work);
  work();
  for (auto& thread : pool) thread.join();
}

}  // namespace palvero
