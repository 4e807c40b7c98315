// logind's PrepareForSleep on a private bus: a dbus-daemon of the test's own,
// named as the system bus, and a connection that owns logind's name and
// sends the signal. Without that name the clock fallback is chosen.
#ifdef PALVERO_HAVE_SDBUS
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/SleepMonitor.h"
#include "support/PrivateBus.h"

namespace palvero {
namespace {

using namespace std::chrono_literals;
using testing::PrivateBus;

// Stands in for logind: owns its name and sends its signal.
class FakeLogind {
 public:
  FakeLogind() {
    if (sd_bus_open_system(&bus_) < 0) bus_ = nullptr;
    if (bus_) owned_ = sd_bus_request_name(bus_, "org.freedesktop.login1", 0) >= 0;
  }
  ~FakeLogind() {
    if (bus_) sd_bus_flush_close_unref(bus_);
  }
  bool owned() const { return owned_; }
  bool prepareForSleep(bool sleeping) {
    int sent = sd_bus_emit_signal(bus_, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                  "PrepareForSleep", "b", sleeping ? 1 : 0);
    return sent >= 0 && sd_bus_flush(bus_) >= 0;
  }

 private:
  sd_bus* bus_ = nullptr;
  bool owned_ = false;
};

bool waitFor(const std::atomic<int>& value, int expected) {
  for (auto deadline = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < deadline;) {
    if (value.load() >= expected) return true;
    std::this_thread::sleep_for(5ms);
  }
  return value.load() >= expected;
}

TEST(LogindSleepMonitorTest, PrepareForSleepReportsSleepThenWake) {
  PrivateBus bus(PALVERO_DBUS_DAEMON, "DBUS_SYSTEM_BUS_ADDRESS");
  ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
  {
    auto fallback = SleepMonitor::create();
    ASSERT_NE(fallback, nullptr);
    EXPECT_STREQ(fallback->sourceName(), "clock") << "no logind on the bus";
  }
  FakeLogind logind;
  ASSERT_TRUE(logind.owned());
  auto monitor = SleepMonitor::create();
  ASSERT_NE(monitor, nullptr);
  ASSERT_STREQ(monitor->sourceName(), "logind");
  std::atomic<int> sleeps{0}, wakes{0};
  ASSERT_TRUE(monitor->start([&] { ++sleeps; }, [&] { ++wakes; }));
  ASSERT_TRUE(logind.prepareForSleep(true));
  ASSERT_TRUE(waitFor(sleeps, 1));
  EXPECT_EQ(wakes.load(), 0);
  ASSERT_TRUE(logind.prepareForSleep(false));
  ASSERT_TRUE(waitFor(wakes, 1));
  EXPECT_EQ(sleeps.load(), 1);
  monitor->stop();
  // Stopped: nothing more is reported. A second monitor hearing a later
  // signal shows the earlier one was delivered by then.
  ASSERT_TRUE(logind.prepareForSleep(true));
  auto witness = SleepMonitor::create();
  ASSERT_NE(witness, nullptr);
  std::atomic<int> witnessed{0};
  ASSERT_TRUE(witness->start([&] { ++witnessed; }, nullptr));
  ASSERT_TRUE(logind.prepareForSleep(true));
  ASSERT_TRUE(waitFor(witnessed, 1));
  EXPECT_EQ(sleeps.load(), 1);
}

}  // namespace
}  // namespace palvero
#endif
