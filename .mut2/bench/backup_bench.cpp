// End-to-end throughput of the block engine against palvero-service on
// loopback, beside this machine's limits for the same work, in one run:
//
//   primitives   read + SHA-256 + MD5 + deflate-6 (the engine's deflater:
//                libdeflate, stored blocks for what its probe finds
//                incompressible) + CRC-32 + AES-256-CBC over every block of
//                the corpus (the engine's cut), 2 threads, no network,
//                nothing written
//   zlib-6       zlib's deflate at level 6 over the same blocks, 2 threads:
//                the compressor the engine had before, for time and size
//   backup       N engines on N threads back up every file (first revision)
//   restore      the same engines restore every file into a new folder
//   restore run  the whole restore of the product (RestoreManager: listings,
//                the restore table, the queue) with 1, 3 and 10 workers
//   backup again every file again, unchanged (no block is sent)
//   restic       `restic backup`, `restic restore`, `restic backup` again of
//                the same corpus into a local repository
//
// Each phase prints seconds, MB/s, files/s and peak memory (this process's
// VmHWM, reset before the phase; restic's from wait4). The engines run with
// "RequestPause" 0.1 (the pacing of a service that sends none); with
// --unpaused they also run once with "RequestPause" 0 (what palvero-service
// sends by default), which shows what the pacing costs on many small files.
// The packed sizes of both deflaters are printed after the primitives.
//
//   backup_bench CORPUS [--work DIR] [--engines N] [--unpaused | --unpaused-only] [--no-restic]
//                [--restore-workers 1,3,10] [--skip-primitives]
//
// bench/run-backup-bench makes the corpus (bench/make-corpus), builds and
// runs this with restic installed.
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/Clock.h"
#include "base/NotificationCenter.h"
#include "base/RunLoop.h"
#include "base/StdRunLoop.h"
#include "engine/DeltaHandler.h"
#include "engine/format/BlockCutter.h"
#include "engine/format/BlockDeflater.h"
#include "engine/format/CipherKey.h"
#include "protocol/CommunicationServer.h"
#include "protocol/HttpClient.h"
#include "restore/RestoreManager.h"
#include "selection/CommonExtensions.h"
#include "state/DBManager.h"
#include "state/LocalSettings.h"
#include "support/ServiceProcess.h"
#include "support/TempHome.h"

namespace fs = std::filesystem;
using palvero::Bytes;

namespace {

struct CorpusFile {
  std::string path;
  std::string relative;
  int64_t size = 0;
};

struct PhaseResult {
  std::string name;
  double seconds = 0;
  int64_t bytes = 0;
  size_t files = 0;
  double peakMB = 0;
  size_t failures = 0;
  // CPU seconds (user + system) of this process and of the service.
  double cpu = 0;
  double serviceCpu = 0;
};

// The running palvero-service, a child of this process.
pid_t gServicePid = -1;

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

std::vector<CorpusFile> listCorpus(const std::string& root) {
  std::vector<CorpusFile> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_symlink() || !entry.is_regular_file()) continue;
    std::string relative = fs::relative(entry.path(), root).string();
    if (relative.rfind(".complete", 0) == 0) continue;
    files.push_back({entry.path().string(), relative, static_cast<int64_t>(entry.file_size())});
  }
  // Largest first, so that the two big files do not finish last on one thread.
  std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.size > b.size; });
  return files;
}

// Peak resident memory of this process since the last reset, in MB.
double peakMB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  return 0;
}

void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

double cpuSeconds() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Fields of /proc/PID/stat after the command name: state is field 3.
std::vector<std::string> statFields(const std::string& statPath, std::string* command = nullptr) {
  std::ifstream in(statPath);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t open = text.find('(');
  size_t close = text.rfind(')');
  std::vector<std::string> fields;
  if (open == std::string::npos || close == std::string::npos) return fields;
  if (command) *command = text.substr(open + 1, close - open - 1);
  std::istringstream rest(text.substr(close + 2));
  for (std::string field; rest >> field;) fields.push_back(field);
  return fields;
}

double serviceCpuSeconds() {
  if (gServicePid <= 0) return 0;
  std::vector<std::string> fields = statFields("/proc/" + std::to_string(gServicePid) + "/stat");
  if (fields.size() < 13) return 0;
  // utime and stime are fields 14 and 15, in clock ticks.
  return (std::stod(fields[11]) + std::stod(fields[12])) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

pid_t findServicePid() {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string command;
    std::vector<std::string> fields = statFields(entry.path().string() + "/stat", &command);
    if (fields.size() > 1 && command == "palvero-service" && std::stoi(fields[1]) == ::getpid()) {
      return static_cast<pid_t>(std::stoi(name));
    }
  }
  return -1;
}

// The figures of a phase that began at `start` (wall, process and service CPU).
PhaseResult phaseResult(const std::string& name, const std::vector<CorpusFile>& files, double start, double cpuStart,
                        double serviceStart, size_t failures) {
  PhaseResult result;
  result.name = name;
  result.seconds = now() - start;
  result.cpu = cpuSeconds() - cpuStart;
  result.serviceCpu = serviceCpuSeconds() - serviceStart;
  for (const auto& file : files) result.bytes += file.size;
  result.files = files.size();
  result.peakMB = peakMB();
  result.failures = failures;
  return result;
}

// Runs `work` over the files on `threads` threads, each taking the next file.
PhaseResult runPhase(const std::string& name, const std::vector<CorpusFile>& files, size_t threads,
                     const std::function<bool(size_t thread, const CorpusFile&)>& work) {
  resetPeak();
  std::atomic<size_t> next{0};
  std::atomic<size_t> failures{0};
  double cpuStart = cpuSeconds();
  double serviceStart = serviceCpuSeconds();
  double start = now();
  std::vector<std::thread> pool;
  for (size_t t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      for (size_t i = next++; i < files.size(); i = next++) {
        if (!work(t, files[i])) ++failures;
      }
    });
  }
  for (auto& thread : pool) thread.join();
  return phaseResult(name, files, start, cpuStart, serviceStart, failures);
}

// The bytes a block of `plain` bytes sends when its deflated stream has
// `packed` bytes: the packed form from 4,000 bytes on when it is smaller
// (the archive's headers left out: the same for both deflaters).
uint64_t sentSize(size_t plain, size_t packed) {
  if (plain <= 256) return 0;
  return plain >= 4000 && packed < plain ? packed : plain;
}

// --- The primitives: what the engine must compute per block, nothing else.

class Primitives {
 public:
  explicit Primitives(const std::string& cipher)
      : sha_(EVP_MD_fetch(nullptr, "SHA256", nullptr)),
        md5_(EVP_MD_fetch(nullptr, "MD5", nullptr)),
        aes_(EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr)),
        key_(*palvero::CipherKey::derive(cipher)) {}
  ~Primitives() {
    EVP_MD_free(sha_);
    EVP_MD_free(md5_);
    EVP_CIPHER_free(aes_);
  }

  uint64_t sentBytes() const { return sentBytes_; }

  bool file(const CorpusFile& file) {
    int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const auto cut = static_cast<size_t>(palvero::BlockCutter::GetOptimumBlockSize(file.size));
    buffer_.resize(cut);
    bool ok = true;
    while (true) {
      ssize_t n = readFully(fd, buffer_.data(), cut);
      if (n < 0) ok = false;
      if (n <= 0) break;
      block(buffer_.data(), static_cast<size_t>(n));
      if (static_cast<size_t>(n) < cut) break;
    }
    ::close(fd);
    return ok;
  }

 private:
  static ssize_t readFully(int fd, uint8_t* out, size_t size) {
    size_t done = 0;
    while (done < size) {
      ssize_t n = ::read(fd, out + done, size - done);
      if (n < 0) return -1;
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
  }

  void digest(EVP_MD* md, const uint8_t* data, size_t size) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_DigestInit_ex2(ctx, md, nullptr);
    EVP_DigestUpdate(ctx, data, size);
    EVP_DigestFinal_ex(ctx, out, &n);
    EVP_MD_CTX_free(ctx);
    sink_ += out[0];
  }

  void block(const uint8_t* data, size_t size) {
    digest(sha_, data, size);
    digest(md5_, data, size);
    std::span<const uint8_t> plain(data, size);
    deflater_.deflate(plain, deflated_);
    size_t packed = deflated_.size();
    sink_ += palvero::BlockDeflater::crc32(plain);
    sentBytes_ += sentSize(size, packed);
    encrypted_.resize(std::max(packed, size) + 32);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int n1 = 0;
    int n2 = 0;
    EVP_EncryptInit_ex2(ctx, aes_, key_.key.data(), key_.iv.data(), nullptr);
    // The smaller form is what goes out, as in the engine.
    const uint8_t* body = packed < size ? deflated_.data() : data;
    EVP_EncryptUpdate(ctx, encrypted_.data(), &n1, body, static_cast<int>(std::min(packed, size)));
    EVP_EncryptFinal_ex(ctx, encrypted_.data() + n1, &n2);
    EVP_CIPHER_CTX_free(ctx);
    sink_ += encrypted_[0];
  }

  EVP_MD* sha_;
  EVP_MD* md5_;
  EVP_CIPHER* aes_;
  palvero::CipherKey key_;
  palvero::BlockDeflater deflater_;
  Bytes buffer_;
  Bytes deflated_;
  Bytes encrypted_;
  uint64_t sink_ = 0;
  uint64_t sentBytes_ = 0;
};

// Deflates every block with zlib at level 6, as the engine did before, and
// counts the bytes that would go out.
class ZlibDeflate {
 public:
  bool file(const CorpusFile& file) {
    int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const auto cut = static_cast<size_t>(palvero::BlockCutter::GetOptimumBlockSize(file.size));
    buffer_.resize(cut);
    bool ok = true;
    while (true) {
      ssize_t n = ::read(fd, buffer_.data(), cut);
      while (n > 0 && static_cast<size_t>(n) < cut) {
        ssize_t more = ::read(fd, buffer_.data() + n, cut - static_cast<size_t>(n));
        if (more <= 0) break;
        n += more;
      }
      if (n < 0) ok = false;
      if (n <= 0) break;
      auto size = static_cast<size_t>(n);
      out_.resize(compressBound(static_cast<uLong>(size)) + 64);
      z_stream z{};
      deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
      z.next_in = buffer_.data();
      z.avail_in = static_cast<uInt>(size);
      z.next_out = out_.data();
      z.avail_out = static_cast<uInt>(out_.size());
      deflate(&z, Z_FINISH);
      sentBytes_ += sentSize(size, z.total_out);
      deflateEnd(&z);
      if (size < cut) break;
    }
    ::close(fd);
    return ok;
  }
  uint64_t sentBytes() const { return sentBytes_; }

 private:
  Bytes buffer_;
  Bytes out_;
  uint64_t sentBytes_ = 0;
};

// --- restic

struct ChildResult {
  bool ok = false;
  double seconds = 0;
  double peakMB = 0;
  double cpu = 0;
};

ChildResult runChild(const std::vector<std::string>& args, const std::string& logFile) {
  ChildResult result;
  double start = now();
  pid_t pid = ::fork();
  if (pid == 0) {
    int out = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid) {
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    result.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }
  result.seconds = now() - start;
  return result;
}

bool sameContent(const std::string& a, const std::string& b) {
  std::ifstream fa(a, std::ios::binary);
  std::ifstream fb(b, std::ios::binary);
  std::vector<char> ba(1 << 20);
  std::vector<char> bb(1 << 20);
  while (fa && fb) {
    fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
    fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
    if (fa.gcount() != fb.gcount() || std::memcmp(ba.data(), bb.data(), static_cast<size_t>(fa.gcount())) != 0) {
      return false;
    }
  }
  return fa.eof() && fb.eof();
}

// The product's whole restore of everything into `destination` with
// `workers` workers, driven on this thread's run loop like the command does.
PhaseResult restoreRun(const std::string& url, size_t workers, const std::string& destination,
                       const std::vector<CorpusFile>& files) {
  using namespace palvero;
  resetPeak();
  double cpuStart = cpuSeconds();
  double serviceStart = serviceCpuSeconds();
  double start = now();
  fs::create_directories(destination);
  auto loop = std::make_shared<StdRunLoop>();
  RunLoop::setMain(loop);
  loop->runPending();
  auto newServer = [&] { return CommunicationServer::create(url, std::make_shared<HttpClient>()); };
  size_t failures = 0;
  {
    RestoreManager manager(newServer(), CommonExtensions::sharedExtensionsManager());
    manager.setWorkers(workers, [&] { return std::make_shared<DeltaHandler>(newServer()); });
    RestoreChoice choice;
    choice.restoreAllData = true;
    choice.restoreToOriginalPath = false;
    choice.restoreDestinationPath = destination;
    manager.setChoice(choice);
    manager.saveChoice();
    bool ended = false;
    auto token = NotificationCenter::defaultCenter().addObserver(RestoreManager::kRestoreEnd, &manager,
                                                                 [&](const Notification&) { ended = true; });
    manager.restore();
    loop->runUntil([&] { return ended; }, std::chrono::hours(1));
    NotificationCenter::defaultCenter().removeObserver(token);
    failures = manager.failedFiles().size() + (ended ? 0 : 1);
  }
  RunLoop::setMain(nullptr);
  PhaseResult result = phaseResult("restore run (" + std::to_string(workers) + " workers)", files, start, cpuStart,
                                   serviceStart, failures);
  // Paths outside the backup folder come back below the destination whole.
  for (const auto& file : files) result.failures += !sameContent(file.path, destination + file.path);
  return result;
}

void printRow(const PhaseResult& r) {
  double mb = static_cast<double>(r.bytes) / 1e6;
  std::printf("%-26s %8.2f s %7.1f MB/s %7.1f files/s %6.1f MB peak  cpu %6.1f s + service %6.1f s%s\n", r.name.c_str(),
              r.seconds, r.seconds > 0 ? mb / r.seconds : 0,
              r.seconds > 0 ? static_cast<double>(r.files) / r.seconds : 0, r.peakMB, r.cpu, r.serviceCpu,
              r.failures ? ("  FAILED " + std::to_string(r.failures)).c_str() : "");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: backup_bench CORPUS [--work DIR] [--engines N] [--unpaused] [--no-restic]\n");
    return 2;
  }
  std::string corpus = fs::absolute(argv[1]).string();
  std::string work = "/tmp/palvero-backup-bench";
  size_t engineCount = 3;
  bool unpaused = false;
  bool paused = true;
  bool restic = true;
  bool primitivesPhase = true;
  std::vector<size_t> restoreWorkers = {1, 3, 10};
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--work" && i + 1 < argc) {
      work = argv[++i];
    } else if (arg == "--engines" && i + 1 < argc) {
      engineCount = static_cast<size_t>(std::stoul(argv[++i]));
    } else if (arg == "--unpaused") {
      unpaused = true;
    } else if (arg == "--unpaused-only") {
      unpaused = true;
      paused = false;
    } else if (arg == "--skip-primitives") {
      primitivesPhase = false;
    } else if (arg == "--no-restic") {
      restic = false;
    } else if (arg == "--restore-workers" && i + 1 < argc) {
      restoreWorkers.clear();
      std::stringstream list(argv[++i]);
      for (std::string item; std::getline(list, item, ',');) restoreWorkers.push_back(std::stoul(item));
    }
  }
  fs::remove_all(work);
  fs::create_directories(work);

  std::vector<CorpusFile> files = listCorpus(corpus);
  int64_t total = 0;
  for (const auto& f : files) total += f.size;
  std::printf("corpus %s: %zu files, %.1f MB; %zu engines; %u cores\n", corpus.c_str(), files.size(),
              static_cast<double>(total) / 1e6, engineCount, std::thread::hardware_concurrency());

  palvero::testing::TempHome home;
  auto service = std::make_unique<palvero::testing::ServiceProcess>();
  palvero::testing::ServiceProcess::useCredentials(service->newDevice("bench", "bench-password"));
  gServicePid = findServicePid();
  std::string cipher = palvero::LocalSettings::sharedManager().accountCipher().value_or("");

  std::vector<PhaseResult> results;
  if (primitivesPhase) {
    std::vector<std::unique_ptr<Primitives>> primitives;
    for (int t = 0; t < 2; ++t) primitives.push_back(std::make_unique<Primitives>(cipher));
    results.push_back(runPhase("primitives (2 threads)", files, 2,
                               [&](size_t t, const CorpusFile& f) { return primitives[t]->file(f); }));
    printRow(results.back());
    std::vector<std::unique_ptr<ZlibDeflate>> zlib;
    for (int t = 0; t < 2; ++t) zlib.push_back(std::make_unique<ZlibDeflate>());
    results.push_back(runPhase("zlib-6 deflate (2 threads)", files, 2,
                               [&](size_t t, const CorpusFile& f) { return zlib[t]->file(f); }));
    printRow(results.back());
    uint64_t ours = primitives[0]->sentBytes() + primitives[1]->sentBytes();
    uint64_t theirs = zlib[0]->sentBytes() + zlib[1]->sentBytes();
    std::printf("block bytes sent (blocks > 256 bytes, packed when smaller from 4,000 bytes): deflate-6 %.1f MB, "
                "zlib-6 %.1f MB (%+.2f%%)\n",
                static_cast<double>(ours) / 1e6, static_cast<double>(theirs) / 1e6,
                100.0 * (static_cast<double>(ours) / static_cast<double>(theirs) - 1));
  }

  auto engines = [&] {
    std::vector<std::unique_ptr<palvero::DeltaHandler>> list;
    for (size_t e = 0; e < engineCount; ++e) {
      list.push_back(std::make_unique<palvero::DeltaHandler>(
          palvero::CommunicationServer::create(service->url(), std::make_shared<palvero::HttpClient>())));
    }
    return list;
  };
  auto runEngines = [&](const std::string& label, const std::string& restoreRoot) {
    auto list = engines();
    auto backupOne = [&](size_t t, const CorpusFile& f) {
      palvero::Value args = {{"filePath", f.path}, {"name", f.relative}, {"fileLength", f.size}};
      return list[t]->backupFileWithArgs(args, static_cast<int64_t>(t));
    };
    results.push_back(runPhase("backup" + label, files, engineCount, backupOne));
    printRow(results.back());
    results.push_back(runPhase("restore" + label, files, engineCount, [&](size_t t, const CorpusFile& f) {
      palvero::Value args = {
          {"filePath", f.path}, {"targetPath", restoreRoot + "/" + f.relative}, {"revision", -1}, {"deviceID", ""}};
      return list[t]->restoreFileWithArgs(args, static_cast<int64_t>(t));
    }));
    printRow(results.back());
    size_t wrong = 0;
    for (const auto& f : files) wrong += !sameContent(f.path, restoreRoot + "/" + f.relative);
    if (wrong) std::printf("  %zu restored files differ from the corpus\n", wrong);
    for (size_t workers : restoreWorkers) {
      results.push_back(restoreRun(service->url(), workers,
                                   restoreRoot + "-run" + std::to_string(workers), files));
      printRow(results.back());
    }
    results.push_back(runPhase("backup again" + label, files, engineCount, backupOne));
    printRow(results.back());
  };

  palvero::LocalSettings::sharedManager().setRequestPause(0.1);
  if (paused) runEngines("", work + "/restored");
  if (unpaused) {
    // A fresh service and block table, so that every block goes out again.
    service.reset();
    service = std::make_unique<palvero::testing::ServiceProcess>();
    palvero::testing::ServiceProcess::useCredentials(service->newDevice("bench", "bench-password"));
    gServicePid = findServicePid();
    palvero::DBManager::sharedDBManager().removeAllCachedBlocks();
    palvero::LocalSettings::sharedManager().setRequestPause(0);
    runEngines(" (unpaused)", work + "/restored-unpaused");
  }

  if (restic) {
    ::setenv("RESTIC_PASSWORD", "bench", 1);
    ::setenv("RESTIC_REPOSITORY", (work + "/restic-repo").c_str(), 1);
    std::string log = work + "/restic.log";
    if (!runChild({"restic", "init"}, log).ok) {
      std::printf("restic init failed (see %s)\n", log.c_str());
    } else {
      auto row = [&](const std::string& name, const ChildResult& child) {
        PhaseResult r;
        r.name = name;
        r.seconds = child.seconds;
        r.bytes = total;
        r.files = files.size();
        r.peakMB = child.peakMB;
        r.cpu = child.cpu;
        r.failures = child.ok ? 0 : 1;
        results.push_back(r);
        printRow(r);
      };
      row("restic backup", runChild({"restic", "backup", "--quiet", corpus}, log));
      row("restic restore", runChild({"restic", "restore", "latest", "--target", work + "/restic-restored"}, log));
      row("restic backup again", runChild({"restic", "backup", "--quiet", corpus}, log));
    }
  }

  auto find = [&](const std::string& name) -> const PhaseResult* {
    for (const auto& r : results) {
      if (r.name == name) return &r;
    }
    return nullptr;
  };
  auto ratio = [&](const char* label, const std::string& ours, const std::string& theirs, bool throughput) {
    const PhaseResult* a = find(ours);
    const PhaseResult* b = find(theirs);
    if (!a || !b || a->seconds <= 0 || b->seconds <= 0) return;
    if (throughput) {
      std::printf("%-52s %6.2f\n", label, b->seconds / a->seconds);
    } else {
      std::printf("%-52s %6.2f\n", label, a->seconds / b->seconds);
    }
  };
  std::printf("\nratios\n");
  ratio("zlib-6 time / primitives time (deflate-6 inside)", "zlib-6 deflate (2 threads)", "primitives (2 threads)",
        false);
  ratio("backup MB/s / primitives MB/s", "backup", "primitives (2 threads)", true);
  ratio("backup (unpaused) MB/s / primitives MB/s", "backup (unpaused)", "primitives (2 threads)", true);
  ratio("backup time / restic backup time", "backup", "restic backup", false);
  ratio("backup (unpaused) time / restic backup time", "backup (unpaused)", "restic backup", false);
  ratio("restore time / restic restore time", "restore", "restic restore", false);
  ratio("restore (unpaused) time / restic restore time", "restore (unpaused)", "restic restore", false);
  for (size_t workers : restoreWorkers) {
    std::string name = "restore run (" + std::to_string(workers) + " workers)";
    ratio((name + " time / restic restore time").c_str(), name, "restic restore", false);
  }
  ratio("backup again time / restic backup again time", "backup again", "restic backup again", false);
  ratio("backup again (unpaused) / restic backup again", "backup again (unpaused)", "restic backup again", false);
  // CPU seconds per byte compare better than wall time on a shared machine.
  auto cpuRatio = [&](const char* label, const std::string& ours, bool withService) {
    const PhaseResult* a = find(ours);
    const PhaseResult* b = find("primitives (2 threads)");
    if (!a || !b || a->cpu <= 0) return;
    std::printf("%-52s %6.2f\n", label, b->cpu / (a->cpu + (withService ? a->serviceCpu : 0)));
  };
  cpuRatio("primitives cpu / backup cpu (client)", "backup", false);
  cpuRatio("primitives cpu / backup cpu (client + service)", "backup", true);
  cpuRatio("primitives cpu / backup (unpaused) cpu (client)", "backup (unpaused)", false);
  cpuRatio("primitives cpu / backup (unpaused) cpu (client + service)", "backup (unpaused)", true);
  size_t failed = 0;
  for (const auto& r : results) failed += r.failures;
  return failed ? 1 : 0;
}
