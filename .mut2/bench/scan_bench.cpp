// Scan throughput: generates a tree of files in folders under a temporary
// home, then times a first scan into the database (walk, filter, batched
// writes) against `find DIR -type f | wc -l` on the same tree in the same
// run, and reports files per second, the ratio and the scan's peak memory.
//
//   scan_bench [--files N] [--folders N] [--rounds N] [--keep | --reuse HOME]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/DirectoryWalker.h"
#include "selection/BackupQueueStore.h"
#include "selection/FileScanner.h"
#include "state/DBManager.h"
#include "state/FilesToBackup.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Peak resident memory of this process in kB (VmHWM).
long peakKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// Resets the peak to the current size, so the scan's own peak is measured.
void resetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

// CPU seconds (user + system) of this process, or of its waited-for children.
double cpuSeconds(int who) {
  struct rusage usage {};
  getrusage(who, &usage);
  auto toSeconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void generate(const std::string& root, int files, int folders) {
  // Two levels: sqrt-ish top folders, the rest below them.
  int top = std::max(1, folders / 50);
  std::vector<std::string> dirs;
  for (int i = 0; i < folders; ++i) {
    std::string dir = root + "/top" + std::to_string(i % top) + (i < top ? "" : "/sub" + std::to_string(i));
    fs::create_directories(dir);
    dirs.push_back(dir);
  }
  std::string content(200, 'x');
  for (int i = 0; i < files; ++i) {
    std::string path = dirs[static_cast<size_t>(i) % dirs.size()] + "/document" + std::to_string(i) + ".txt";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
      std::perror(path.c_str());
      std::exit(1);
    }
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
  }
}

long findCount(const std::string& root) {
  std::string command = "find '" + root + "' -type f | wc -l";
  std::FILE* pipe = popen(command.c_str(), "r");
  long count = -1;
  if (pipe) {
    if (std::fscanf(pipe, "%ld", &count) != 1) count = -1;
    pclose(pipe);
  }
  return count;
}

// Accepts every write and keeps nothing: the scan without the database.
class DiscardingStore : public palvero::BackupQueueStore {
 public:
  bool insertOrUpdateFiles(const std::vector<palvero::BackupFile>&) override { return true; }
  bool insertDeletedFiles(const std::vector<std::string>&) override { return true; }
  std::vector<palvero::BackupFile> selectWaitingFiles() override { return {}; }
  std::vector<palvero::BackupFile> selectFilesToDelete() override { return {}; }
  bool deleteFilesWithPrefix(const std::string&) override { return true; }
  bool removeAllFiles() override { return true; }
};

long walkOnly(const std::string& root) {
  long count = 0;
  palvero::DirectoryWalker::walk(
      root,
      [&](const palvero::DirectoryWalker::Entry& entry) {
        if (entry.kind == palvero::DirectoryWalker::Kind::kRegular) ++count;
        return palvero::DirectoryWalker::Action::kContinue;
      },
      [](const std::string&, int) {});
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  int files = 100000, folders = 2000, rounds = 3;
  bool keep = false;
  std::string reuse;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--files" && i + 1 < argc)
      files = std::atoi(argv[++i]);
    else if (arg == "--folders" && i + 1 < argc)
      folders = std::atoi(argv[++i]);
    else if (arg == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--keep")
      keep = true;
    else if (arg == "--reuse" && i + 1 < argc)
      reuse = argv[++i], keep = true;
    else {
      std::fprintf(stderr, "usage: %s [--files N] [--folders N] [--rounds N] [--keep | --reuse HOME]\n", argv[0]);
      return 2;
    }
  }

  char pattern[] = "/tmp/palvero-scan-bench-XXXXXX";
  if (reuse.empty() && !mkdtemp(pattern)) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string home = reuse.empty() ? std::string(pattern) : reuse;
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
  setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
  const std::string tree = home + "/Documents";

  if (reuse.empty()) {
    std::printf("generating %d files in %d folders under %s ...\n", files, folders, tree.c_str());
    auto genStart = Clock::now();
    generate(tree, files, folders);
    std::printf("generated in %.1f s\n", seconds(Clock::now() - genStart));
  }

  auto& db = palvero::DBManager::sharedDBManager();
  db.CreateDatabase();
  auto& scanner = palvero::FileScanner::sharedFileScanner();

  // Warm the cache for both contenders.
  long found = findCount(tree);
  scanner.firstScanFilesAtPath(tree, true, false, false);

  std::vector<double> findTimes, scanTimes, walkTimes, filterTimes, findCpu, scanCpu;
  long scanPeakKb = 0;
  int64_t queued = 0;
  for (int round = 0; round < rounds; ++round) {
    auto t0 = Clock::now();
    double c0 = cpuSeconds(RUSAGE_CHILDREN);
    found = findCount(tree);
    findTimes.push_back(seconds(Clock::now() - t0));
    findCpu.push_back(cpuSeconds(RUSAGE_CHILDREN) - c0);

    auto tw = Clock::now();
    walkOnly(tree);
    walkTimes.push_back(seconds(Clock::now() - tw));

    palvero::FilesToBackup::sharedFilesToBackup().setFiles({});
    palvero::BackupQueueStore::setCurrent(std::make_shared<DiscardingStore>());
    auto tf = Clock::now();
    scanner.firstScanFilesAtPath(tree, true, false, false);
    filterTimes.push_back(seconds(Clock::now() - tf));
    palvero::BackupQueueStore::setCurrent(nullptr);

    db.RemoveAllFilesFromDatabase(true);
    palvero::FilesToBackup::sharedFilesToBackup().setFiles({});
    resetPeak();
    auto t1 = Clock::now();
    double c1 = cpuSeconds(RUSAGE_SELF);
    auto rows = scanner.firstScanFilesAtPath(tree, true, false, false);
    scanTimes.push_back(seconds(Clock::now() - t1));
    scanCpu.push_back(cpuSeconds(RUSAGE_SELF) - c1);
    scanPeakKb = std::max(scanPeakKb, peakKb());
    queued = db.GetTotalNumberOfFiles(true);
    if (!rows) {
      std::fprintf(stderr, "scan failed\n");
      return 1;
    }
  }

  double findTime = median(findTimes), scanTime = median(scanTimes);
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("\nfiles found by find:   %ld\n", found);
  std::printf("files queued by scan:  %lld\n", static_cast<long long>(queued));
  std::printf("find -type f | wc -l:  %.3f s (median of %d)\n", findTime, rounds);
  std::printf("  walk only:           %.3f s\n", median(walkTimes));
  std::printf("  walk + filter:       %.3f s (scan without database writes)\n", median(filterTimes));
  std::printf("scan into database:    %.3f s (median of %d), %.0f files/s\n", scanTime, rounds,
              static_cast<double>(queued) / scanTime);
  std::printf("ratio scan / find:     %.2fx wall (goal: within 3x); CPU %.3f s / %.3f s = %.2fx\n", scanTime / findTime,
              median(scanCpu), median(findCpu), median(scanCpu) / median(findCpu));
  std::printf("peak memory of scan:   %.1f MB (process peak %.1f MB; goal: under 100 MB)\n", scanPeakKb / 1024.0,
              usage.ru_maxrss / 1024.0);

  if (!keep) {
    std::error_code ec;
    fs::remove_all(home, ec);
  } else {
    std::printf("tree kept in %s\n", home.c_str());
  }
  return queued == found ? 0 : 1;
}
