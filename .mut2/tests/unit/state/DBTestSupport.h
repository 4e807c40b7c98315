// Shared fixture of the database tests: a fresh home, the shared DBManager
// on it, a second connection to look at the file directly, the sqlite3
// command-line tool for independent checks, and the log text.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/Env.h"
#include "state/BackupFile.h"
#include "state/DBManager.h"
#include "state/LogWriter.h"
#include "state/SqliteConnection.h"
#include "support/TempHome.h"

namespace palvero::testing {

class DBTest : public ::testing::Test {
 protected:
  DBManager& db() { return DBManager::sharedDBManager(); }
  std::string dbPath() const { return Env::supportDirectory() + "/palverofiles.db"; }
  std::string logText() const { return readFile(LogWriter::sharedLogger().currentLogFilepath()); }
  bool logged(const std::string& line) const { return logText().find("| " + line + "\n") != std::string::npos; }

  // A connection of its own to the database file.
  SqliteConnection direct() const {
    auto connection = SqliteConnection::open(dbPath());
    connection.setBusyTimeout(10000);
    return connection;
  }
  int64_t scalar(const std::string& sql) const {
    auto connection = direct();
    auto statement = connection.prepare(sql);
    return statement.step() ? statement.columnInt64(0) : -999;
  }
  // NUMBEROFTRIES of a backup row, -1 when the row is missing.
  int64_t tries(const std::string& path, const char* table = "FILESTOBACKUP") const {
    auto connection = direct();
    auto statement = connection.prepare(std::string("SELECT NUMBEROFTRIES FROM ") + table + " WHERE PATH = ?");
    statement.bind(1, path);
    return statement.step() ? statement.columnInt64(0) : -1;
  }
  int64_t status(const std::string& path, const char* table = "FILESTOBACKUP") const {
    auto connection = direct();
    auto statement = connection.prepare(std::string("SELECT STATUS FROM ") + table + " WHERE PATH = ?");
    statement.bind(1, path);
    return statement.step() ? statement.columnInt64(0) : -1;
  }

  // Runs `sql` with the sqlite3 command-line tool; its output.
  std::string cli(const std::string& sql, const std::string& options = "-batch") const {
    std::string script = home_ / "cli.sql";
    writeFile(script, sql + "\n");
    std::string command = "sqlite3 " + options + " '" + dbPath() + "' < '" + script + "' 2>&1";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      size_t n;
      while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
      pclose(pipe);
    }
    return output;
  }

  static BackupFile file(const std::string& path, int64_t size = 1, int32_t status = kQueueWaiting) {
    return BackupFile{path, status, "2024-01-31 17:05", size, ""};
  }
  // `count` waiting records "<prefix>000000" ... in path order.
  static std::vector<BackupFile> files(size_t count, const std::string& prefix = "/home/u/f", int64_t size = 1) {
    std::vector<BackupFile> out;
    out.reserve(count);
    char number[32];
    for (size_t i = 0; i < count; ++i) {
      std::snprintf(number, sizeof number, "%06zu", i);
      out.push_back(file(prefix + number, size));
    }
    return out;
  }

  TempHome home_;
};

}  // namespace palvero::testing
