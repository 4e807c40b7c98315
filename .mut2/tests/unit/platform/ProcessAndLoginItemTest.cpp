// Starting programs, the autostart entry and the clock fallback of the
// sleep monitor.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/LoginItem.h"
#include "platform/Process.h"
#include "platform/SleepMonitor.h"
#include "support/TempHome.h"

namespace palvero::testing {
namespace {

using namespace std::chrono_literals;

TEST(ProcessTest, ShellQuotingSurvivesTheShell) {
  TempHome home;
  for (std::string text : {"plain", "with space", "it's", "$(touch pwned)", "`x`", "a\"b", "new\nline", ""}) {
    SCOPED_TRACE(text);
    std::string out = home / "out";
    int rc = Process::run("/bin/sh", {"-c", "printf %s " + Process::shellQuoted(text) + " > " +
                                                Process::shellQuoted(out)});
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(readFile(out), text);
  }
  EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST(ProcessTest, LaunchDetachesAndReportsAMissingProgram) {
  TempHome home;
  std::string marker = home / "started";
  ASSERT_TRUE(Process::launch("/bin/sh", {"-c", "sleep 0.2; touch " + Process::shellQuoted(marker)}));
  for (int i = 0; i < 100 && !std::filesystem::exists(marker); ++i) std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(std::filesystem::exists(marker));
  EXPECT_EQ(Process::run("/nonexistent/program", {}), -1);
  EXPECT_EQ(Process::run("/bin/sh", {"-c", "exit 3"}), 3);
  EXPECT_FALSE(Process::executablePath().empty());
}

TEST(LoginItemTest, EntryRunsTheProgramAndQuotesItsArguments) {
  TempHome home;
  EXPECT_FALSE(LoginItem::isEnabled());
  ASSERT_TRUE(LoginItem::enable("/opt/Pal vero/palvero", {"daemon", "100%"}, "Palvero"));
  EXPECT_TRUE(LoginItem::isEnabled());
  EXPECT_EQ(LoginItem::entryPath(), home / ".config/autostart/com.palvero.desktop.desktop");
  std::string entry = readFile(LoginItem::entryPath());
  EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(entry.find("Exec=\"/opt/Pal vero/palvero\" \"daemon\" \"100%%\"\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("Type=Application\n"), std::string::npos);
  std::string tricky = LoginItem::desktopEntry("/bin/p\"q", {"$HOME"}, "Evil\nExec=rm");
  EXPECT_NE(tricky.find("Exec=\"/bin/p\\\\\"q\" \"\\\\$HOME\"\n"), std::string::npos) << tricky;
  EXPECT_NE(tricky.find("Name=Evil Exec=rm\n"), std::string::npos) << "a name cannot add a line";
  EXPECT_TRUE(LoginItem::disable());
  EXPECT_FALSE(LoginItem::isEnabled());
  EXPECT_TRUE(LoginItem::disable()) << "nothing left is fine";
}

TEST(SuspendGapDetectorTest, GrowingGapBetweenBootAndMonotonicClocksIsASuspend) {
  SuspendGapDetector detector(4s);
  EXPECT_FALSE(detector.observe(100s, 90s)) << "first reading is the baseline";
  EXPECT_FALSE(detector.observe(102s, 92s)) << "both clocks ran";
  EXPECT_FALSE(detector.observe(105s, 92s + 2s)) << "3 s of drift is below the threshold";
  EXPECT_TRUE(detector.observe(400s, 96s)) << "five minutes asleep";
  EXPECT_FALSE(detector.observe(402s, 98s)) << "reported once";
}

TEST(SleepMonitorTest, ClockFallbackStartsAndStopsWithoutReports) {
  ClockSleepMonitor monitor(10ms, 4s);
  std::atomic<int> reports{0};
  ASSERT_TRUE(monitor.start([&] { ++reports; }, [&] { ++reports; }));
  std::this_thread::sleep_for(60ms);
  monitor.stop();
  EXPECT_EQ(reports.load(), 0);
  EXPECT_STREQ(monitor.sourceName(), "clock");
  auto created = SleepMonitor::create();
  ASSERT_NE(created, nullptr) << "logind or the fallback, never nothing";
}

}  // namespace
}  // namespace palvero::testing
