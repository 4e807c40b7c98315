// The random share of files "palvero verify --sample" checks: its size is
// the percentage rounded up (never none of a non-empty list), its members are
// distinct and sorted, the same seed gives the same share, and over many
// seeds every file gets its turn.
#include <gtest/gtest.h>

#include <set>

#include "app/VerifyRunner.h"

namespace palvero {
namespace {

TEST(VerifySampleTest, SizeIsThePercentageRoundedUp) {
  struct Case {
    size_t total;
    double percent;
    size_t size;
  };
  for (const Case& c : {Case{0, 50, 0}, Case{1, 0.001, 1}, Case{10, 10, 1}, Case{11, 10, 2}, Case{40, 10, 4},
                        Case{3, 100, 3}, Case{100, 33.3, 34}, Case{7, 100, 7}, Case{1000, 0.1, 1}}) {
    SCOPED_TRACE(std::to_string(c.total) + " at " + std::to_string(c.percent) + "%");
    EXPECT_EQ(VerifyRunner::sampleSize(c.total, c.percent), c.size);
  }
}

TEST(VerifySampleTest, DistinctSortedRepeatableAndFair) {
  std::vector<size_t> all = VerifyRunner::sample(5, 9, 1);
  EXPECT_EQ(all, (std::vector<size_t>{0, 1, 2, 3, 4})) << "asking for more than there is gives everything";
  std::vector<int> drawn(10, 0);
  std::set<std::vector<size_t>> different;
  for (uint64_t seed = 0; seed < 300; ++seed) {
    std::vector<size_t> share = VerifyRunner::sample(10, 3, seed);
    ASSERT_EQ(share.size(), 3u);
    EXPECT_TRUE(std::is_sorted(share.begin(), share.end()));
    EXPECT_EQ(std::set<size_t>(share.begin(), share.end()).size(), 3u) << "no file twice";
    for (size_t index : share) {
      ASSERT_LT(index, 10u);
      ++drawn[index];
    }
    EXPECT_EQ(VerifyRunner::sample(10, 3, seed), share) << "the seed decides";
    different.insert(share);
  }
  // 900 draws over 10 files: about 90 each; a biased draw (always the first
  // ones, or never the last) falls far outside.
  for (size_t i = 0; i < drawn.size(); ++i) {
    EXPECT_GT(drawn[i], 50) << "file " << i;
    EXPECT_LT(drawn[i], 130) << "file " << i;
  }
  EXPECT_GT(different.size(), 60u);
}

}  // namespace
}  // namespace palvero
