// The settings page's decisions without its widgets: what each control
// shows, what it stores, the proxy port rule, the locks of "AccessRights"
// and the bandwidth text.
#include <gtest/gtest.h>

#include "app/Localization.h"
#include "app/SettingsControls.h"
#include "platform/PreferencesStore.h"
#include "selection/CommonExtensions.h"
#include "state/LocalSettings.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

class SettingsControlsTest : public ::testing::Test {
 protected:
  void SetUp() override { CommonExtensions::resetForTesting(); }
  void TearDown() override { CommonExtensions::resetForTesting(); }
  // What a fresh process would read.
  static void reload() {
    LocalSettings::resetForTesting();
    CommonExtensions::resetForTesting();
    PreferencesStore::resetForTesting();
  }
  testing::TempHome home_;
};

TEST_F(SettingsControlsTest, TheProxyPortIsStoredOnlyWhenItIsAPort) {
  struct Case {
    const char* typed;
    std::optional<std::string> stored;
  };
  for (const Case& c :
       {Case{"8080", "8080"}, Case{"  3128", "3128"}, Case{"+80", "80"}, Case{"0080", "80"}, Case{"65535", "65535"},
        Case{"80a", std::nullopt}, Case{"", std::nullopt}, Case{"-80", std::nullopt}, Case{"0", std::nullopt},
        Case{"65536", std::nullopt}, Case{"99999999999999999999", std::nullopt}, Case{"80 ", std::nullopt},
        Case{" ", std::nullopt}, Case{"+", std::nullopt}}) {
    SCOPED_TRACE(std::string("\"") + c.typed + "\"");
    LocalSettings::sharedManager().saveParameter("proxyPort", "1111");
    EXPECT_EQ(SettingsControls::changeProxyPort(c.typed), c.stored.has_value());
    reload();
    // A refused text leaves the stored port as it was.
    EXPECT_EQ(LocalSettings::sharedManager().proxyPort(), c.stored.value_or("1111"));
  }
}

TEST_F(SettingsControlsTest, ProxyTypesZeroAndOneHaveNoServerOfTheirOwn) {
  for (int32_t type : {0, 1, 2, 3}) {
    SCOPED_TRACE(type);
    EXPECT_EQ(SettingsControls::changeProxyType(type), type >= 2);
    reload();
    EXPECT_EQ(LocalSettings::sharedManager().proxyType(), type);
    EXPECT_EQ(SettingsControls::setSettingsValues().proxyFieldsEnabled, type >= 2);
  }
}

TEST_F(SettingsControlsTest, AccessRightsLockTheThreeAreasOrChangeNothing) {
  auto open = SettingsControls::locksFor(0);
  ASSERT_TRUE(open);
  EXPECT_TRUE(open->timingEnabled && open->exclusionsEnabled && open->advancedEnabled && open->advancedVisible);
  EXPECT_FALSE(open->locksShown || open->noticeShown);
  for (int32_t rights : {1, 2}) {
    SCOPED_TRACE(rights);
    auto locked = SettingsControls::locksFor(rights);
    ASSERT_TRUE(locked);
    EXPECT_FALSE(locked->timingEnabled || locked->exclusionsEnabled || locked->advancedEnabled ||
                 locked->advancedVisible);
    EXPECT_TRUE(locked->locksShown && locked->noticeShown);
  }
  for (int32_t rights : {-1, 3, 7}) EXPECT_FALSE(SettingsControls::locksFor(rights)) << rights;

  // What the page is filled with follows the stored value.
  LocalSettings::sharedManager().saveParameter("AccessRights", 2);
  EXPECT_FALSE(SettingsControls::setSettingsValues().locks.timingEnabled);
  LocalSettings::sharedManager().saveParameter("AccessRights", 0);
  EXPECT_TRUE(SettingsControls::setSettingsValues().locks.timingEnabled);
}

TEST_F(SettingsControlsTest, TheBandwidthTextAndWhatIsStored) {
  EXPECT_EQ(SettingsControls::setSettingsValues().bandwidth, 100);
  EXPECT_EQ(SettingsControls::setSettingsValues().bandwidthText, L("UnlimitedSpeed"));
  EXPECT_EQ(SettingsControls::changeBandwidth(25), "25 %");
  EXPECT_EQ(SettingsControls::changeBandwidth(100), L("UnlimitedSpeed"));
  EXPECT_EQ(SettingsControls::changeBandwidth(1), "1 %");
  // Out of range is no limit, shown as such, never as "0 %".
  EXPECT_EQ(SettingsControls::changeBandwidth(0), L("UnlimitedSpeed"));
  SettingsControls::changeBandwidth(40);
  reload();
  EXPECT_EQ(LocalSettings::sharedManager().bandwidthLimit(), 40);
  EXPECT_EQ(SettingsControls::setSettingsValues().bandwidthText, "40 %");
}

TEST_F(SettingsControlsTest, TimingEntriesAndThreadPositions) {
  struct Case {
    int32_t timing;
    int entry;
  };
  for (Case c : {Case{0, 0}, Case{1, 1}, Case{3, 2}, Case{2, 0}, Case{9, 0}}) {
    EXPECT_EQ(SettingsControls::timingEntryFor(c.timing), c.entry) << c.timing;
  }
  struct Threads {
    int32_t stored;
    int position;
  };
  for (Threads t : {Threads{1, 1}, Threads{2, 2}, Threads{3, 1}, Threads{4, 3}, Threads{5, 4}, Threads{10, 5}}) {
    SCOPED_TRACE(t.stored);
    LocalSettings::sharedManager().saveParameter("numberOfThreads", t.stored);
    EXPECT_EQ(SettingsControls::setSettingsValues().threadPosition, t.position);
  }
}

}  // namespace
}  // namespace palvero
