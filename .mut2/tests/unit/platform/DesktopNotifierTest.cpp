// Desktop notifications on a private session bus: a stand-in notification
// service receives what DesktopNotifier sends; without the service the send
// fails, without a bus there is no notifier.
#ifdef PALVERO_HAVE_SDBUS
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/DesktopNotifier.h"
#include "support/FakeNotificationServer.h"
#include "support/PrivateBus.h"

namespace palvero {
namespace {

using testing::FakeNotificationServer;
using testing::PrivateBus;

TEST(DesktopNotifierTest, NotifyReachesTheServiceWithItsHints) {
  PrivateBus bus(PALVERO_DBUS_DAEMON, "DBUS_SESSION_BUS_ADDRESS");
  ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
  auto notifier = DesktopNotifier::create("Palvero", "com.palvero.desktop");
  ASSERT_NE(notifier, nullptr);
  DesktopNotifier::Message message{"Backup storage is full", "Used 12.40 GB / 10 GB. Back-slash \\ and \"quotes\"",
                                   DesktopNotifier::Urgency::kCritical, "palvero"};
  EXPECT_FALSE(notifier->send(message).has_value()) << "nobody owns the service's name yet";

  FakeNotificationServer service;
  ASSERT_TRUE(service.owned());
  auto first = notifier->send(message);
  ASSERT_TRUE(first.has_value());
  message.urgency = DesktopNotifier::Urgency::kLow;
  message.summary = "Restore finished";
  auto second = notifier->send(message);
  ASSERT_TRUE(second.has_value());
  EXPECT_NE(*first, *second) << "the service's ids come back";
  ASSERT_TRUE(service.waitFor(2));
  auto got = service.received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].appName, "Palvero");
  EXPECT_EQ(got[0].icon, "palvero");
  EXPECT_EQ(got[0].summary, "Backup storage is full");
  EXPECT_EQ(got[0].body, "Used 12.40 GB / 10 GB. Back-slash \\ and \"quotes\"");
  EXPECT_EQ(got[0].urgency, 2);
  EXPECT_EQ(got[0].desktopEntry, "com.palvero.desktop");
  EXPECT_EQ(got[1].summary, "Restore finished");
  EXPECT_EQ(got[1].urgency, 0);
}

TEST(DesktopNotifierTest, NoSessionBusMeansNoNotifier) {
  const char* saved = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  std::string previous = saved ? saved : "";
  ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/palvero-test-bus", 1);
  EXPECT_EQ(DesktopNotifier::create("Palvero", "com.palvero.desktop"), nullptr);
  if (saved) {
    ::setenv("DBUS_SESSION_BUS_ADDRESS", previous.c_str(), 1);
  } else {
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  }
}

}  // namespace
}  // namespace palvero
#endif
