// The block cache BLOCKS: checksums of blocks the server is known to hold.
//
// The row count is kept in memory (counting a million rows on every insert
// would cost more than the insert); it is recounted when another connection
// changed the file (PRAGMA data_version) or after any failure. Rows are
// evicted in rowid order: each write deletes and re-inserts its rows, so
// rowid order is the order in which the DATE texts were written.
#include <algorithm>

#include "base/StringFormat.h"
#include "state/DBManager.h"

namespace palvero {
namespace {

// Bound parameters per checkBlocks statement; well below SQLite's limit.
constexpr size_t kCheckChunk = 100;

}  // namespace

int64_t DBManager::blockCountLocked(SqliteConnection& db) {
  int64_t dataVersion = 0;
  {
    auto version = db.cached("PRAGMA data_version");
    if (version->step()) dataVersion = version->columnInt64(0);
  }
  if (cachedBlockCount_ && dataVersion == blockCountDataVersion_) return *cachedBlockCount_;
  auto count = db.cached("SELECT Count(*) FROM BLOCKS");
  cachedBlockCount_ = count->step() ? count->columnInt64(0) : 0;
  blockCountDataVersion_ = dataVersion;
  return *cachedBlockCount_;
}

int64_t DBManager::evictBlocksLocked(SqliteConnection& db, int64_t count) {
  if (count <= 0) return 0;
  auto remove = db.cached("DELETE FROM BLOCKS WHERE rowid IN (SELECT rowid FROM BLOCKS ORDER BY rowid LIMIT ?)");
  remove->bind(1, count);
  remove->run();
  return db.changes();
}

bool DBManager::insertOrUpdateBlocks(const std::vector<std::string>& checksums) {
  if (checksums.empty()) return true;
  const std::string now = timestampText(Date::now());
  return perform(Operation::kInsertBlocks, [&](SqliteConnection& db) {
    int64_t cached = blockCountLocked(db);
    int64_t added = 0;
    SqliteTransaction transaction(db);
    if (cached >= kMaxCachedBlocks + 1) {
      added -= evictBlocksLocked(db, cached + static_cast<int64_t>(checksums.size()) - kMaxCachedBlocks);
    }
    // Delete and insert rather than INSERT OR REPLACE: the same row movement,
    // and the delete tells whether the checksum was new.
    auto remove = db.cached("DELETE FROM BLOCKS WHERE ID = ?");
    auto insert = db.cached("INSERT INTO BLOCKS (ID, DATE) VALUES (?, ?)");
    for (const std::string& checksum : checksums) {
      remove->bind(1, checksum);
      remove->run();
      if (db.changes() == 0) ++added;
      remove->reset();
      insert->bind(1, checksum);
      insert->bind(2, now);
      insert->run();
      insert->reset();
    }
    transaction.commit();
    cachedBlockCount_ = cached + added;
  });
}

bool DBManager::removeCachedBlocksFor(int64_t cached, int64_t andBlocksCount) {
  int64_t excess = cached + andBlocksCount - kMaxCachedBlocks;
  if (excess <= 0) return true;
  return perform(Operation::kRemoveCachedBlocks, [&](SqliteConnection& db) {
    int64_t count = blockCountLocked(db);
    int64_t removed = evictBlocksLocked(db, excess);
    cachedBlockCount_ = count - removed;
  });
}

std::unordered_set<std::string> DBManager::cachedChecksumsAmong(const std::vector<std::string>& checksums) {
  std::unordered_set<std::string> cached;
  if (checksums.empty()) return cached;
  bool done = perform(Operation::kCheckBlocks, [&](SqliteConnection& db) {
    for (size_t start = 0; start < checksums.size(); start += kCheckChunk) {
      size_t count = std::min(kCheckChunk, checksums.size() - start);
      std::string sql = "SELECT ID FROM BLOCKS WHERE ID IN (?";
      for (size_t i = 1; i < count; ++i) sql += ", ?";
      sql += ")";
      auto select = db.cached(sql);
      for (size_t i = 0; i < count; ++i) select->bind(static_cast<int>(i + 1), checksums[start + i]);
      while (select->step()) cached.insert(select->columnText(0));
    }
  });
  if (!done) cached.clear();
  return cached;
}

std::vector<std::string> DBManager::checkBlocks(const std::vector<std::string>& checksums) {
  std::unordered_set<std::string> cached = cachedChecksumsAmong(checksums);
  std::vector<std::string> missing;
  for (const std::string& checksum : checksums) {
    if (!cached.count(checksum)) missing.push_back(checksum);
  }
  return missing;
}

int64_t DBManager::getCachedBlocksCount() {
  int64_t count = 0;
  bool done = perform(Operation::kCountBlocks, [&](SqliteConnection& db) { count = blockCountLocked(db); });
  return done ? count : 0;
}

bool DBManager::removeAllCachedBlocks() {
  return perform(Operation::kRemoveAllCachedBlocks, [&](SqliteConnection& db) {
    db.cached("DELETE FROM BLOCKS")->run();
    cachedBlockCount_.reset();
  });
}

bool DBManager::removeAllBlocks() {
  return perform(Operation::kRemoveAllBlocks, [&](SqliteConnection& db) {
    db.cached("DELETE FROM BLOCKS")->run();
    cachedBlockCount_.reset();
  });
}

}  // namespace palvero
