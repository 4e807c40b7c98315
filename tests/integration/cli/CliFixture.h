// Fixture of the command-line integration tests: a palvero-service with one
// account, a home of its own (inherited by the children), and the real
// `palvero` program run as a child process, in the foreground or in the
// background (to be killed or signalled).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/Value.h"
#include "platform/Env.h"
#include "support/ServiceProcess.h"
#include "support/TempHome.h"

namespace palvero::testing {

struct CliResult {
  int code = -1;  // exit status; 128 + N when killed by signal N
  std::string out;
  std::string err;
};

class CliFixture : public ::testing::Test {
 protected:
  static constexpr const char* kUser = "ann";
  static constexpr const char* kPassword = "secret-pw";

  void SetUp() override {
    char folder[] = "/tmp/palvero-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    outputDir_ = folder;
    service_.addUser(kUser, kPassword);
    ::setenv("PALVERO_SERVER_URL", service_.url().c_str(), 1);
  }
  void TearDown() override {
    for (pid_t pid : background_) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    ::unsetenv("PALVERO_SERVER_URL");
    std::error_code ignored;
    std::filesystem::remove_all(outputDir_, ignored);
  }

  static std::string binary() {
    const char* env = std::getenv("PALVERO_CLI_BINARY");
    return env && *env ? env : PALVERO_CLI_BINARY;
  }

  // Starts `palvero args...` with `input` on its stdin; output goes to files
  // read by finish().
  pid_t start(const std::vector<std::string>& args, const std::string& input = "") {
    ++runs_;
    std::string outPath = outputPath("out"), errPath = outputPath("err");
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(pipeFds[0], STDIN_FILENO);
      ::close(pipeFds[0]);
      ::close(pipeFds[1]);
      int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out, STDOUT_FILENO);
      ::dup2(err, STDERR_FILENO);
      std::vector<char*> argv;
      std::string path = binary();
      argv.push_back(path.data());
      std::vector<std::string> copies = args;
      for (auto& arg : copies) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(path.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(pipeFds[0]);
    if (!input.empty()) {
      ssize_t written = ::write(pipeFds[1], input.data(), input.size());
      (void)written;
    }
    ::close(pipeFds[1]);
    background_.push_back(pid);
    outputOf_[pid] = {outPath, errPath};
    return pid;
  }

  // Waits for the child (at most a minute: a hung command fails the test
  // instead of hanging it, and is killed).
  CliResult finish(pid_t pid) {
    int status = 0;
    CliResult result;
    pid_t done = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (done == 0) {
      ADD_FAILURE() << "palvero (process " << pid << ") did not end within a minute";
      ::kill(pid, SIGKILL);
      done = ::waitpid(pid, &status, 0);
    }
    if (done == pid) {
      result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::erase(background_, pid);
    result.out = readFile(outputOf_[pid].first);
    result.err = readFile(outputOf_[pid].second);
    return result;
  }

  CliResult run(const std::vector<std::string>& args, const std::string& input = "") {
    return finish(start(args, input));
  }

  CliResult login(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"login", "--user", kUser, "--password-stdin"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args, std::string(kPassword) + "\n");
  }

  // Ten workers: each file costs the 0.1-second request pauses before its
  // requests, so more workers keep the tests short.
  void useTenWorkers() { ASSERT_EQ(run({"settings", "set", "numberOfThreads", "10"}).code, 0); }

  Value statusJSON() {
    CliResult status = run({"status", "--json"});
    return Value::parse(status.out, nullptr, false);
  }

  std::string deviceId() { return statusJSON().value("device", std::string()); }

  // What the program keeps: its preferences, and its database and logs.
  static std::string preferencesPath() { return Env::configDirectory() + "/preferences.json"; }
  static Value preferences() { return Value::parse(readFile(preferencesPath()), nullptr, false); }
  static std::string supportDir() { return Env::supportDirectory(); }

  // `count` files under Documents/NAME, with modification times an hour
  // back (a file written in the last 10 seconds is held back by design).
  std::vector<std::string> makeFiles(const std::string& name, int count, size_t size = 3000) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
      std::string path = home_ / ("Documents/" + name + "/file-" + std::to_string(i) + ".txt");
      std::string data(size + static_cast<size_t>(i), 'a' + static_cast<char>(i % 26));
      data += std::to_string(i);
      writeFile(path, data);
      age(path);
      paths.push_back(path);
    }
    return paths;
  }

  static void age(const std::string& path, int seconds = 3600) {
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
  }

  // The revisions the service stores for one of this device's files.
  Value versions(const std::string& device, const std::string& path) { return service_.versions(device, path); }

  static bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
  }

  TempHome home_;
  ServiceProcess service_;

 private:
  // Outside the home folder, which is what gets backed up.
  std::string outputPath(const char* kind) { return outputDir_ + "/" + std::to_string(runs_) + "." + kind; }

  std::string outputDir_;
  int runs_ = 0;
  std::vector<pid_t> background_;
  std::map<pid_t, std::pair<std::string, std::string>> outputOf_;
};

}  // namespace palvero::testing
