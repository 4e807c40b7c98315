// The desktop application's shell: the Qt run loop under the core, the
// status item's menu, the window that hides instead of ending the process,
// one Palvero per user (a second launch brings the window forward; a
// background daemon is stopped before the app takes over).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <thread>

#include "UiFixture.h"
#include "app/InstanceLock.h"
#include "app/InstanceTakeover.h"
#include "state/LocalSettings.h"
#include "base/RunLoop.h"
#include "base/Timer.h"
#include "ui/AppWindow.h"
#include "ui/DesktopApp.h"
#include "ui/StatusItem.h"
#include "ui/TerminationSignals.h"
#include "ui/main/MainWindow.h"

namespace palvero::testing {
namespace {

using ui::DesktopApp;

class DesktopShellTest : public UiFixture {};

TEST_F(DesktopShellTest, CoreTasksAndTimersRunOnTheGuiThread) {
  std::atomic<bool> ranOnGui{false};
  std::atomic<bool> ran{false};
  std::thread worker([&] {
    RunLoop::main().async([&] {
      ranOnGui.store(QThread::currentThread() == qApp->thread());
      ran.store(true);
    });
  });
  worker.join();
  ASSERT_TRUE(waitFor([&] { return ran.load(); }));
  EXPECT_TRUE(ranOnGui.load());

  // sync() from another thread waits for the GUI thread's answer.
  int answer = 0;
  std::thread asker([&] { answer = RunLoop::main().sync([] { return 42; }); });
  ASSERT_TRUE(waitFor([&] { return answer == 42; }));
  asker.join();

  int repeats = 0;
  bool cancelledFired = false;
  bool oneShot = false;
  auto repeating = Timer::scheduled(std::chrono::milliseconds(20), true, [&] { ++repeats; });
  auto cancelled = Timer::scheduled(std::chrono::milliseconds(30), false, [&] { cancelledFired = true; });
  cancelled->invalidate();
  auto later = Timer::scheduled(std::chrono::milliseconds(120), false, [&] { oneShot = true; });
  ASSERT_TRUE(waitFor([&] { return oneShot && repeats >= 3; }));
  repeating->invalidate();
  EXPECT_FALSE(cancelledFired);
}

TEST_F(DesktopShellTest, StatusMenuHasItsEntriesInOrderAndRunsThem) {
  std::vector<std::string> ran;
  ui::StatusItem::Actions actions{[&] { ran.push_back("open"); }, [&] { ran.push_back("help"); },
                                  [&] { ran.push_back("logout"); }, [&] { ran.push_back("quit"); }};
  ui::StatusItem item(actions);
  QList<QAction*> entries = item.menu()->actions();
  ASSERT_EQ(entries.size(), 4);
  for (QAction* entry : entries) entry->trigger();
  ASSERT_TRUE(waitFor([&] { return ran.size() == 4; }));
  EXPECT_EQ(ran, (std::vector<std::string>{"open", "help", "logout", "quit"}));

  // The window's own menu, for desktops without a tray, has no Open.
  QMenu windowMenu;
  ui::StatusItem::fillMenu(&windowMenu, actions, false);
  ASSERT_EQ(windowMenu.actions().size(), 3);
  windowMenu.actions()[0]->trigger();
  ASSERT_TRUE(waitFor([&] { return ran.size() == 5; }));
  EXPECT_EQ(ran.back(), "help");
}

// closeApp() as the Quit entry runs it, then the event loop: the exit code
// tells whether the app ended (0) or a marker posted two hops later ran (7).
int quitAndRun(DesktopApp& app) {
  auto post = [](std::function<void()> task) { QMetaObject::invokeMethod(qApp, task, Qt::QueuedConnection); };
  post([&] {
    app.closeApp();
    post([post] { post([] { QCoreApplication::exit(7); }); });
  });
  int code = QApplication::exec();
  // A marker the quit overtook is still queued: it runs now, outside any
  // loop, rather than ending the next test's loop.
  for (int hop = 0; hop < 3; ++hop) QCoreApplication::sendPostedEvents();
  return code;
}

TEST_F(DesktopShellTest, QuitEndsTheEventLoopAfterOneQuestion) {
  struct Case {
    const char* name;
    bool loggedIn;
    bool confirmed;
  };
  for (const Case& c : {Case{"wizard", false, true}, Case{"confirmed", true, true}, Case{"cancelled", true, false}}) {
    SCOPED_TRACE(c.name);
    if (c.loggedIn && !LocalSettings::sharedManager().isInitialized()) logIn();
    auto options = quietDesktopOptions();
    int asked = 0;
    options.core.confirmQuit = [&] {
      ++asked;
      return c.confirmed;
    };
    DesktopApp app(options);
    app.start();
    ASSERT_EQ(app.window()->showsMainWindow(), c.loggedIn);
    EXPECT_EQ(quitAndRun(app), c.confirmed ? 0 : 7);
    EXPECT_EQ(asked, 1);
    app.shutdown();
  }
}

TEST_F(DesktopShellTest, TerminationSignalEndsTheEventLoop) {
  ui::TerminationSignals termination;
  QTimer::singleShot(0, [] { ::raise(SIGTERM); });
  QTimer::singleShot(20000, [] { QCoreApplication::exit(99); });
  EXPECT_EQ(QApplication::exec(), 0);
}

// Closing the window hides it and keeps the engine; opening shows it again,
// and so does a second launch, which then ends.
TEST_F(DesktopShellTest, TheWindowHidesOnCloseAndASecondLaunchBringsItForward) {
  logIn();
  DesktopApp first(quietDesktopOptions(true));
  ASSERT_TRUE(first.acquireInstance());
  first.start();
  ASSERT_TRUE(first.window()->showsMainWindow());
  auto* controller = first.delegate()->mainViewController();
  ASSERT_NE(controller, nullptr);
  EXPECT_TRUE(first.window()->isVisible());
  EXPECT_EQ(first.window()->mainWindow()->controller(), controller);

  first.window()->close();
  EXPECT_FALSE(first.window()->isVisible());
  EXPECT_EQ(first.delegate()->mainViewController(), controller) << "the engine stopped with the window";
  EXPECT_FALSE(controller->statisticsWanted()) << "statistics go on while hidden";
  first.openApp();
  EXPECT_TRUE(first.window()->isVisible());
  EXPECT_TRUE(controller->statisticsWanted());

  first.window()->hide();
  DesktopApp second(quietDesktopOptions(true));
  EXPECT_FALSE(second.acquireInstance()) << "a second Palvero started";
  ASSERT_TRUE(waitFor([&] { return first.window()->isVisible(); }));
}

// A stand-in for `palvero daemon`: it takes the instance lock as the daemon
// does, and answers SIGTERM by writing a mark and letting go (or not).
class FakeDaemon {
 public:
  FakeDaemon(const std::string& mark, bool obeys) {
    std::string script =
        "import fcntl, os, signal, sys, time\n"
        "lock = open(sys.argv[1], 'a')\n"
        "fcntl.flock(lock, fcntl.LOCK_EX)\n"
        "open(sys.argv[2], 'w').write(str(os.getpid()) + '\\n')\n"
        "def stop(*_):\n"
        "    if sys.argv[4] == 'obey':\n"
        "        open(sys.argv[3], 'w').write('stopped')\n"
        "        sys.exit(0)\n"
        "signal.signal(signal.SIGTERM, stop)\n"
        "open(sys.argv[3] + '.ready', 'w').write('1')\n"
        "while True: time.sleep(0.05)\n";
    std::filesystem::create_directories(std::filesystem::path(InstanceLock::lockPath()).parent_path());
    std::string pidPath = std::filesystem::path(InstanceLock::lockPath()).parent_path() / "palvero.pid";
    readyPath_ = mark + ".ready";
    pid_ = ::fork();
    if (pid_ == 0) {
      // argv[0] "palvero" and the word "daemon", as the real one shows.
      execl("/usr/bin/python3", "palvero", "-c", script.c_str(), InstanceLock::lockPath().c_str(), pidPath.c_str(),
             mark.c_str(), obeys ? "obey" : "ignore", "daemon", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~FakeDaemon() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool waitReady() {
    return UiFixture::waitFor([&] { return std::filesystem::exists(readyPath_); });
  }
  pid_t pid() const { return pid_; }
  void reap() {
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  std::string readyPath_;
};

// Answers the next modal question by pressing the named button (or the
// escape button when `name` is empty) as soon as it shows.
void answerNextQuestion(const QString& name) {
  auto* poll = new QTimer(qApp);
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, name] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    poll->stop();
    poll->deleteLater();
    if (name.isEmpty()) {
      box->escapeButton()->click();
    } else {
      box->findChild<QPushButton*>(name)->click();
    }
  });
  poll->start();
}

TEST_F(DesktopShellTest, TheDesktopAppOffersToTakeOverFromTheDaemon) {
  logIn();
  std::string mark = home_->path() + "/daemon-stopped";
  {
    FakeDaemon daemon(mark, true);
    ASSERT_TRUE(daemon.waitReady());
    EXPECT_EQ(InstanceTakeover::holder(InstanceLock::holderPid()), InstanceTakeover::Holder::kDaemon);
    DesktopApp declined(quietDesktopOptions(true));
    answerNextQuestion(QString());
    EXPECT_FALSE(declined.acquireInstance());
    EXPECT_FALSE(std::filesystem::exists(mark)) << "stopped without the user's yes";

    DesktopApp app(quietDesktopOptions(true));
    answerNextQuestion(QStringLiteral("takeOverButton"));
    ASSERT_TRUE(app.acquireInstance());
    EXPECT_TRUE(std::filesystem::exists(mark));
    daemon.reap();
    EXPECT_FALSE(InstanceLock().acquired()) << "the app does not hold the lock";
  }
}

TEST_F(DesktopShellTest, ADaemonThatDoesNotLetGoIsNotTakenOver) {
  std::string mark = home_->path() + "/daemon-stopped";
  FakeDaemon daemon(mark, false);
  ASSERT_TRUE(daemon.waitReady());
  auto lock = InstanceTakeover::stopDaemonAndLock(daemon.pid(), std::chrono::milliseconds(600));
  EXPECT_EQ(lock, nullptr);
  EXPECT_FALSE(InstanceLock().acquired()) << "two engines on one queue";
}

}  // namespace
}  // namespace palvero::testing
