// Settings handed from the command line to a running daemon: what the
// daemon takes is what was posted last for each key, once, and a change
// leaves the inbox only when applied.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "app/SettingsInbox.h"
#include "platform/Env.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

using Changes = std::vector<SettingsInbox::Change>;

// The holder that takes the changes has made the support folder.
class SettingsInboxTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(Env::supportDirectory()); }
  testing::TempHome home_;
};

TEST_F(SettingsInboxTest, ALaterChangeOfAKeyReplacesTheEarlierAndEachIsTakenOnce) {
  ASSERT_TRUE(SettingsInbox::post("BandwidthLimit", 40));
  ASSERT_TRUE(SettingsInbox::post("proxyPassword", "secret"));
  ASSERT_TRUE(SettingsInbox::post("BandwidthLimit", 25));
  struct stat info {};
  ASSERT_EQ(::stat(SettingsInbox::path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "a proxy password passes through it";

  Changes applying = SettingsInbox::peek();
  EXPECT_EQ(applying, (Changes{{"proxyPassword", "secret"}, {"BandwidthLimit", 25}}));
  EXPECT_TRUE(SettingsInbox::pending()) << "gone only once applied";
  // Posted while the holder applies the others: it stays for the next look.
  ASSERT_TRUE(SettingsInbox::post("BandwidthLimit", 10));
  SettingsInbox::acknowledge(applying);
  EXPECT_EQ(SettingsInbox::take(), (Changes{{"BandwidthLimit", 10}}));
  EXPECT_FALSE(SettingsInbox::pending());
  EXPECT_TRUE(SettingsInbox::take().empty());
}

TEST_F(SettingsInboxTest, AnUnreadableInboxIsDroppedNotHalfApplied) {
  ASSERT_TRUE(SettingsInbox::post("showAlerts", true));
  std::ofstream(SettingsInbox::path()) << R"([{"key":"showAlerts","value":false},{"key":)";
  EXPECT_TRUE(SettingsInbox::take().empty());
  EXPECT_FALSE(SettingsInbox::pending());
  ASSERT_TRUE(SettingsInbox::post("showAlerts", false));
  EXPECT_EQ(SettingsInbox::take(), (Changes{{"showAlerts", false}}));
}

}  // namespace
}  // namespace palvero
