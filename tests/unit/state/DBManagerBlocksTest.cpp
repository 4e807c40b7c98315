#include <filesystem>
#include <regex>

#include "DBTestSupport.h"
#include "base/Clock.h"
#include "base/FakeClock.h"

namespace palvero::testing {
namespace {

namespace fs = std::filesystem;

// The checksum of the n-th block the test fills in directly.
std::string filled(int64_t n) {
  char text[80];
  std::snprintf(text, sizeof text, "%064lld", static_cast<long long>(n));
  return text;
}

std::vector<std::string> fresh(const std::string& prefix, int count) {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(prefix + std::to_string(i));
  return out;
}

class BlockCacheTest : public DBTest {
 protected:
  // `count` old rows (checksums filled(1) ... filled(count)), in one transaction.
  void fill(int64_t count) {
    ASSERT_TRUE(db().CreateDatabase());
    auto connection = direct();
    connection.exec("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < " +
                    std::to_string(count) +
                    ") INSERT INTO BLOCKS (ID, DATE) SELECT printf('%064d', x), '2020-01-01 00:00:00 +0000' FROM n");
  }
  bool cached(const std::string& checksum) {
    auto connection = direct();
    auto statement = connection.prepare("SELECT 1 FROM BLOCKS WHERE ID = ?");
    statement.bind(1, checksum);
    return statement.step();
  }
};

TEST_F(BlockCacheTest, EvictionStartsAboveOneMillionAndTakesTheOldest) {
  fill(1000000);
  auto& m = db();
  ASSERT_EQ(m.getCachedBlocksCount(), 1000000);

  // Exactly 1,000,000 cached: nothing is evicted.
  ASSERT_TRUE(m.insertOrUpdateBlocks(fresh("a", 10)));
  EXPECT_EQ(m.getCachedBlocksCount(), 1000010);
  EXPECT_TRUE(cached(filled(1)));

  // Another connection removes 9 rows: the count must follow (1,000,001).
  direct().exec("DELETE FROM BLOCKS WHERE ID IN (SELECT ID FROM BLOCKS WHERE rowid BETWEEN 500000 AND 500008)");
  ASSERT_EQ(m.getCachedBlocksCount(), 1000001);

  // 1,000,001 cached + 10 new: the 11 oldest go.
  ASSERT_TRUE(m.insertOrUpdateBlocks(fresh("b", 10)));
  EXPECT_EQ(m.getCachedBlocksCount(), 1000000);
  EXPECT_EQ(scalar("SELECT Count(*) FROM BLOCKS"), 1000000);
  for (int n = 1; n <= 11; ++n) EXPECT_FALSE(cached(filled(n))) << n;
  EXPECT_TRUE(cached(filled(12)));
  EXPECT_TRUE(cached("a0"));
  EXPECT_TRUE(cached("b9"));

  // Writing a cached checksum again makes it the newest and adds nothing.
  ASSERT_TRUE(m.insertOrUpdateBlocks(std::vector<std::string>{filled(12)}));
  EXPECT_EQ(m.getCachedBlocksCount(), 1000000);
  ASSERT_TRUE(m.insertOrUpdateBlocks(fresh("c", 10)));
  EXPECT_EQ(m.getCachedBlocksCount(), 1000010);
  ASSERT_TRUE(m.insertOrUpdateBlocks(fresh("d", 1)));
  EXPECT_EQ(m.getCachedBlocksCount(), 1000000);
  EXPECT_TRUE(cached(filled(12)));
  for (int n = 13; n <= 23; ++n) EXPECT_FALSE(cached(filled(n))) << n;
  EXPECT_TRUE(cached(filled(24)));
  EXPECT_EQ(scalar("SELECT Count(*) FROM BLOCKS"), 1000000);
}

TEST_F(BlockCacheTest, ExplicitEvictionBelowTheLimitDoesNothing) {
  fill(100);
  auto& m = db();
  EXPECT_TRUE(m.removeCachedBlocksFor(100, 10));
  EXPECT_TRUE(m.removeCachedBlocksFor(999990, 10));
  EXPECT_EQ(m.getCachedBlocksCount(), 100);
  EXPECT_TRUE(m.removeCachedBlocksFor(999990, 13));
  EXPECT_EQ(m.getCachedBlocksCount(), 97);
  EXPECT_FALSE(cached(filled(3)));
  EXPECT_TRUE(cached(filled(4)));
  EXPECT_TRUE(m.removeAllCachedBlocks());
  EXPECT_EQ(m.getCachedBlocksCount(), 0);
  ASSERT_TRUE(m.insertOrUpdateBlocks(fresh("x", 3)));
  EXPECT_TRUE(m.removeAllBlocks());
  EXPECT_EQ(m.getCachedBlocksCount(), 0);
  EXPECT_EQ(scalar("SELECT Count(*) FROM BLOCKS"), 0);
}

struct Block {
  std::string checksum;
  int64_t offset = 0;
};

TEST_F(BlockCacheTest, CheckBlocksKeepsTheUncachedInOrder) {
  auto& m = db();
  auto known = fresh("K", 150);
  ASSERT_TRUE(m.insertOrUpdateBlocks(known));
  std::vector<std::string> asked;
  std::vector<std::string> expected;
  for (int i = 0; i < 250; ++i) {
    bool isKnown = i % 3 != 0;
    std::string checksum = isKnown ? known[static_cast<size_t>(i) % known.size()] : "U" + std::to_string(i);
    asked.push_back(checksum);
    if (!isKnown) expected.push_back(checksum);
  }
  asked.push_back("U0");  // a duplicate stays
  expected.push_back("U0");
  EXPECT_EQ(m.checkBlocks(asked), expected);
  EXPECT_TRUE(m.checkBlocks(std::vector<std::string>{}).empty());

  std::vector<Block> blocks = {{"K1", 0}, {"new", 256000}, {"K2", 512000}, {"new", 768000}};
  auto missing = m.checkBlocks(blocks);
  ASSERT_EQ(missing.size(), 2u);
  EXPECT_EQ(missing[0].offset, 256000);
  EXPECT_EQ(missing[1].offset, 768000);
  ASSERT_TRUE(m.insertOrUpdateBlocks(missing));
  EXPECT_TRUE(m.checkBlocks(blocks).empty());
  EXPECT_EQ(m.getCachedBlocksCount(), 151);
}

TEST_F(BlockCacheTest, AnUnreadableCacheKnowsNoBlock) {
  fs::create_directories(dbPath());  // a folder where the file should be
  std::vector<Block> blocks = {{"A", 0}, {"B", 1}};
  EXPECT_EQ(db().checkBlocks(blocks).size(), 2u) << "unknown must mean: ask the server";
  EXPECT_TRUE(logged("Cannot open database. checkBlocks method."));
  EXPECT_FALSE(db().insertOrUpdateBlocks(blocks));
  EXPECT_TRUE(logged("Cannot open database. insertOrUpdateBlocks method."));
}

TEST_F(BlockCacheTest, DateIsTheTimeOfCachingAsSortableText) {
  auto fake = std::make_shared<FakeClock>(Date::fromTimeIntervalSince1970(1706720709));
  Clock::setCurrent(fake);
  bool inserted = db().insertOrUpdateBlocks(std::vector<std::string>{"AB"});
  fake->advance(std::chrono::hours(24 * 400));
  inserted = inserted && db().insertOrUpdateBlocks(std::vector<std::string>{"CD"});
  Clock::setCurrent(nullptr);
  ASSERT_TRUE(inserted);
  EXPECT_EQ(cli("SELECT ID, DATE FROM BLOCKS ORDER BY DATE;"),
            "AB|2024-01-31 17:05:09 +0000\nCD|2025-03-06 17:05:09 +0000\n");
}

}  // namespace
}  // namespace palvero::testing
