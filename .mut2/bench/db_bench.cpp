// File-state database: queue writes and reads in batches of 400 and the
// block cache at 1,000,000 rows, each next to a baseline in the same run:
// raw SQLite C calls doing the same work, and the one-statement UNION insert
// and COUNT(*) + ORDER BY DATE eviction that the queue replaced.
//
//   build/bench/db_bench [--benchmark_filter=...]
//
// Runs in a temporary HOME, removed at the end.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "state/DBManager.h"

namespace palvero {
namespace {

namespace fs = std::filesystem;

constexpr int kRows = 100000;
constexpr int kBatch = 400;
constexpr int kCachedBlocks = 1000000;

std::string gFolder;  // set in main, before any benchmark runs
int gNextDatabase = 0;

std::string newDatabasePath() {
  std::string path = gFolder + "/db" + std::to_string(gNextDatabase++) + ".db";
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path + suffix);
  return path;
}

void removeDatabase(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path + suffix);
}

std::vector<std::vector<BackupFile>> queueBatches() {
  std::vector<std::vector<BackupFile>> batches;
  char path[96];
  for (int start = 0; start < kRows; start += kBatch) {
    std::vector<BackupFile> batch;
    for (int i = start; i < start + kBatch; ++i) {
      std::snprintf(path, sizeof path, "/home/user/Documents/project-%03d/notes/file-%06d.txt", i % 97, i);
      batch.push_back(BackupFile{path, kQueueWaiting, "2024-01-31 17:05", 4096 + i, ""});
    }
    batches.push_back(std::move(batch));
  }
  return batches;
}

const std::vector<std::vector<BackupFile>>& batches() {
  static const auto* all = new std::vector<std::vector<BackupFile>>(queueBatches());
  return *all;
}

// Raw C API, used only by the baselines.
struct RawDb {
  explicit RawDb(const std::string& path) {
    sqlite3_open(path.c_str(), &db);
    exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
  }
  ~RawDb() { sqlite3_close(db); }
  void exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      std::fprintf(stderr, "baseline: %s\n", error ? error : "?");
      sqlite3_free(error);
      std::abort();
    }
  }
  sqlite3* db = nullptr;
};

void fillBlocks(const std::string& path) {
  DBManager manager(path);
  manager.CreateDatabase();
  manager.closeDatabase();
  RawDb raw(path);
  raw.exec("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < " + std::to_string(kCachedBlocks) +
           ") INSERT INTO BLOCKS (ID, DATE) SELECT upper(hex(randomblob(32))), "
           "strftime('%Y-%m-%d %H:%M:%S +0000', 1700000000 + x / 100, 'unixepoch') FROM n");
}

// Times `work` once per iteration on a fresh database file that `prepare`
// (untimed) has made ready; the file is removed afterwards.
template <class Context, class Prepare, class Work>
void onFreshDatabase(benchmark::State& state, Prepare prepare, Work work) {
  for (auto _ : state) {
    state.PauseTiming();
    std::string path = newDatabasePath();
    {
      std::unique_ptr<Context> context = prepare(path);
      state.ResumeTiming();
      if (!work(*context)) state.SkipWithError("wrong result");
      state.PauseTiming();
    }
    removeDatabase(path);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

std::unique_ptr<DBManager> emptyQueue(const std::string& path) {
  auto manager = std::make_unique<DBManager>(path);
  manager->CreateDatabase();
  return manager;
}

std::unique_ptr<DBManager> fullQueue(const std::string& path) {
  auto manager = std::make_unique<DBManager>(path);
  for (const auto& batch : batches()) manager->InsertOrUpdateFileToDatabase(batch, true);
  return manager;
}

// --- Queue writes --------------------------------------------------------------

void BM_QueueInsert(benchmark::State& state) {
  onFreshDatabase<DBManager>(state, emptyQueue, [](DBManager& manager) {
    bool ok = true;
    for (const auto& batch : batches()) ok = manager.InsertOrUpdateFileToDatabase(batch, true) && ok;
    return ok;
  });
}
BENCHMARK(BM_QueueInsert)->Unit(benchmark::kMillisecond)->UseRealTime();

// Failed writes count tries with a sub-select per row.
void BM_QueueInsertFailed(benchmark::State& state) {
  onFreshDatabase<DBManager>(state, fullQueue, [](DBManager& manager) {
    bool ok = true;
    for (const auto& batch : batches()) ok = manager.InsertOrUpdateFilesWithErrorsToDatabase(batch, true) && ok;
    return ok;
  });
}
BENCHMARK(BM_QueueInsertFailed)->Unit(benchmark::kMillisecond)->UseRealTime();

std::unique_ptr<RawDb> rawEmptyQueue(const std::string& path) {
  emptyQueue(path);
  return std::make_unique<RawDb>(path);
}

// Baseline: the same rows through raw prepared statements, one transaction per batch.
void BM_BaselineRawInsert(benchmark::State& state) {
  onFreshDatabase<RawDb>(state, rawEmptyQueue, [](RawDb& raw) {
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(raw.db,
                       "INSERT OR REPLACE INTO FILESTOBACKUP (PATH, STATUS, SIZE, BACKUPDATE) VALUES (?, ?, ?, ?)", -1,
                       &insert, nullptr);
    bool ok = true;
    for (const auto& batch : batches()) {
      raw.exec("BEGIN IMMEDIATE");
      for (const auto& f : batch) {
        sqlite3_bind_text(insert, 1, f.path.data(), static_cast<int>(f.path.size()), SQLITE_STATIC);
        sqlite3_bind_int64(insert, 2, f.status);
        sqlite3_bind_int64(insert, 3, f.size);
        sqlite3_bind_text(insert, 4, f.date.data(), static_cast<int>(f.date.size()), SQLITE_STATIC);
        ok = sqlite3_step(insert) == SQLITE_DONE && ok;
        sqlite3_reset(insert);
      }
      raw.exec("COMMIT");
    }
    sqlite3_finalize(insert);
    return ok;
  });
}
BENCHMARK(BM_BaselineRawInsert)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline: one formatted INSERT ... SELECT ... UNION SELECT statement per batch.
void BM_BaselineUnionStatement(benchmark::State& state) {
  onFreshDatabase<RawDb>(state, rawEmptyQueue, [](RawDb& raw) {
    for (const auto& batch : batches()) {
      std::string sql;
      char part[256];
      for (size_t i = 0; i < batch.size(); ++i) {
        const auto& f = batch[i];
        std::string escaped = DBManager::EscapeSymbols(f.path);
        if (i == 0) {
          sql = "INSERT OR REPLACE INTO FILESTOBACKUP (PATH, STATUS, SIZE, BACKUPDATE) SELECT '" + escaped + "'";
          std::snprintf(part, sizeof part, " AS PATH, '%d' AS STATUS, '%lld' AS SIZE, '", f.status,
                        static_cast<long long>(f.size));
          sql += part + DBManager::EscapeSymbols(f.date) + "' AS BACKUPTIME";
        } else {
          std::snprintf(part, sizeof part, "','%d','%lld','", f.status, static_cast<long long>(f.size));
          sql += " UNION SELECT '" + escaped + part + DBManager::EscapeSymbols(f.date) + "'";
        }
      }
      raw.exec(sql + ";");
    }
    return true;
  });
}
BENCHMARK(BM_BaselineUnionStatement)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Queue reads -------------------------------------------------------------

// What a backup run does: take 400 waiting rows, write them back as done,
// until none is left.
void BM_QueueSelectUntilEmpty(benchmark::State& state) {
  onFreshDatabase<DBManager>(state, fullQueue, [](DBManager& manager) {
    int64_t seen = 0;
    for (;;) {
      auto batch = manager.SelectFileFromDatabase(true, kQueueWaiting);
      if (batch.empty()) break;
      seen += static_cast<int64_t>(batch.size());
      manager.InsertOrUpdateBackupedFilesToDatabase(batch, true);
    }
    return seen == kRows;
  });
}
BENCHMARK(BM_QueueSelectUntilEmpty)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Block cache at 1,000,000 rows ---------------------------------------------

const std::string& blockDatabase() {
  static const auto* path = [] {
    auto* p = new std::string(newDatabasePath());
    fillBlocks(*p);
    return p;
  }();
  return *path;
}

std::vector<std::string> tenChecksums(const std::string& path, int round) {
  // Five cached, five not.
  std::vector<std::string> checksums;
  RawDb raw(path);
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(raw.db, "SELECT ID FROM BLOCKS WHERE rowid % 99991 = ? LIMIT 5", -1, &select, nullptr);
  sqlite3_bind_int(select, 1, round);
  while (sqlite3_step(select) == SQLITE_ROW) {
    checksums.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(select, 0)));
  }
  sqlite3_finalize(select);
  for (int i = 0; i < 5; ++i) checksums.push_back(std::string(63, 'F') + std::to_string(i));
  return checksums;
}

void BM_CheckBlocks10(benchmark::State& state) {
  const std::string& path = blockDatabase();
  auto checksums = tenChecksums(path, 7);
  DBManager manager(path);
  manager.checkBlocks(checksums);  // opens the connection
  for (auto _ : state) {
    auto missing = manager.checkBlocks(checksums);
    if (missing.size() != 5) state.SkipWithError("wrong answer");
    benchmark::DoNotOptimize(missing);
  }
  state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(BM_CheckBlocks10)->Unit(benchmark::kMicrosecond);

// Baseline: ten raw point lookups on a prepared statement.
void BM_BaselineRawLookup10(benchmark::State& state) {
  const std::string& path = blockDatabase();
  auto checksums = tenChecksums(path, 7);
  RawDb raw(path);
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(raw.db, "SELECT 1 FROM BLOCKS WHERE ID = ?", -1, &select, nullptr);
  for (auto _ : state) {
    int found = 0;
    for (const auto& c : checksums) {
      sqlite3_bind_text(select, 1, c.data(), static_cast<int>(c.size()), SQLITE_STATIC);
      if (sqlite3_step(select) == SQLITE_ROW) ++found;
      sqlite3_reset(select);
    }
    if (found != 5) state.SkipWithError("wrong answer");
  }
  sqlite3_finalize(select);
  state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(BM_BaselineRawLookup10)->Unit(benchmark::kMicrosecond);

// Ten new checksums into a full cache: every call evicts ten.
void BM_InsertBlocks10AtLimit(benchmark::State& state) {
  const std::string& path = blockDatabase();
  DBManager manager(path);
  int64_t round = 0;
  std::vector<std::string> checksums(10);
  manager.getCachedBlocksCount();  // opens the connection and counts once
  for (auto _ : state) {
    for (size_t i = 0; i < checksums.size(); ++i)
      checksums[i] = "NEW" + std::to_string(round) + "-" + std::to_string(i);
    ++round;
    if (!manager.insertOrUpdateBlocks(checksums)) state.SkipWithError("insert failed");
  }
  state.counters["cached"] = static_cast<double>(manager.getCachedBlocksCount());
  state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(BM_InsertBlocks10AtLimit)->Unit(benchmark::kMicrosecond);

// Baseline: the same through COUNT(*) and ORDER BY DATE eviction.
void BM_BaselineCountAndDateEviction(benchmark::State& state) {
  const std::string& path = blockDatabase();
  RawDb raw(path);
  int64_t round = 0;
  for (auto _ : state) {
    raw.exec("SELECT Count(*) FROM BLOCKS");
    raw.exec("DELETE FROM BLOCKS WHERE ID IN (SELECT ID FROM BLOCKS order by DATE LIMIT 10);");
    std::string sql = "INSERT OR REPLACE INTO BLOCKS (ID, DATE) SELECT 'OLD" + std::to_string(round) +
                      "-0' AS ID, '2030-01-01 00:00:00 +0000' AS DATE";
    for (int i = 1; i < 10; ++i) {
      sql += " UNION SELECT 'OLD" + std::to_string(round) + "-" + std::to_string(i) + "','2030-01-01 00:00:00 +0000'";
    }
    raw.exec(sql);
    ++round;
  }
  state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(BM_BaselineCountAndDateEviction)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace palvero

int main(int argc, char** argv) {
  char folder[] = "/tmp/palvero-db-bench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  palvero::gFolder = folder;
  // Keep the log writer and anything else out of the real home.
  setenv("HOME", folder, 1);
  for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) setenv(name, folder, 1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return 0;
}
