// A file changed less than ten seconds ago may still be written: it waits
// out the rest of the ten seconds while a quiet file goes first.
#include "AppTestSupport.h"

namespace palvero::testing {
namespace {

class HoldBackTest : public AppFixture {};

TEST_F(HoldBackTest, AFileChangedEightSecondsAgoWaitsTheTwoSecondsLeftBehindAQuietOne) {
  auto paths = queueFiles(2);
  touchAgo(paths[0], 8);
  touchAgo(paths[1], 3600);
  auto& controller = makeController(1);
  script_->holdAll(true);
  ASSERT_TRUE(controller.startBackup());
  ASSERT_TRUE(runUntil([&] { return script_->waiting() == 1; })) << lastLogLines();
  EXPECT_EQ(script_->started()[0].first, paths[1]) << "the recent file went first";
  script_->holdAll(false);
  ASSERT_TRUE(runUntil([&] { return script_->waiting() == 0; }));
  advance(std::chrono::milliseconds(1500));
  EXPECT_EQ(script_->timesStarted(paths[0]), 0);
  advance(std::chrono::milliseconds(700));
  ASSERT_TRUE(runEnded()) << lastLogLines();
  EXPECT_EQ(script_->timesStarted(paths[0]), 1);
}

}  // namespace
}  // namespace palvero::testing
