#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "base/NotificationCenter.h"

namespace palvero {
namespace {

TEST(NotificationCenterTest, DeliversByNameAndSender) {
  NotificationCenter center;
  int a = 0, b = 0;
  int anySender = 0, senderA = 0, otherName = 0;
  center.addObserver("BackupFileOK", nullptr, [&](const Notification&) { ++anySender; });
  center.addObserver("BackupFileOK", &a, [&](const Notification& n) {
    EXPECT_EQ(n.object, &a);
    EXPECT_EQ(n.userInfo["path"], "/x");
    ++senderA;
  });
  center.addObserver("BackupFileFail", nullptr, [&](const Notification&) { ++otherName; });
  center.post("BackupFileOK", &a, Value{{"path", "/x"}});
  center.post("BackupFileOK", &b, Value{{"path", "/x"}});
  EXPECT_EQ(anySender, 2);
  EXPECT_EQ(senderA, 1);
  EXPECT_EQ(otherName, 0);
}

TEST(NotificationCenterTest, DeliveryIsOnThePostingThread) {
  NotificationCenter center;
  std::thread::id seen;
  center.addObserver("RestoreOK", nullptr, [&](const Notification&) { seen = std::this_thread::get_id(); });
  std::thread poster([&] { center.post("RestoreOK"); });
  auto posterId = poster.get_id();
  poster.join();
  EXPECT_EQ(seen, posterId);
}

TEST(NotificationCenterTest, ObserverRemovedDuringPostIsNotCalledAgain) {
  NotificationCenter center;
  int first = 0, second = 0;
  NotificationCenter::Token secondToken = 0;
  NotificationCenter::Token firstToken = 0;
  firstToken = center.addObserver("EmergencyStop", nullptr, [&](const Notification&) {
    ++first;
    center.removeObserver(secondToken);
    center.removeObserver(firstToken);  // removing itself from inside its handler
  });
  secondToken = center.addObserver("EmergencyStop", nullptr, [&](const Notification&) { ++second; });
  center.post("EmergencyStop");
  center.post("EmergencyStop");
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
}

TEST(NotificationCenterTest, RemoveWaitsForARunningCallOnAnotherThread) {
  NotificationCenter center;
  std::atomic<bool> inHandler{false};
  std::atomic<bool> handlerDone{false};
  auto token = center.addObserver("Slow", nullptr, [&](const Notification&) {
    inHandler = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    handlerDone = true;
  });
  std::thread poster([&] { center.post("Slow"); });
  while (!inHandler) std::this_thread::yield();
  center.removeObserver(token);
  EXPECT_TRUE(handlerDone);
  poster.join();
}

}  // namespace
}  // namespace palvero
