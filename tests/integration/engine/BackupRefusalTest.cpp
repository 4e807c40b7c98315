// Files the engine must not back up as they are: refused with a logged
// reason before any request.
#include <filesystem>

#include "EngineFixture.h"

namespace palvero::testing {
namespace {

class BackupRefusalTest : public EngineFixture {
 protected:
  void expectRefusedAtOnce(const std::string& path, const std::string& reason) {
    EXPECT_FALSE(backup(path));
    EXPECT_EQ(lastPosted().name, "BackupFileFail");
    EXPECT_TRUE(service_.requests("get_ver").empty());
    EXPECT_TRUE(service_.requests("upload_ver").empty());
    EXPECT_TRUE(logContains("File was not backed up: " + path + ". Reason: " + reason)) << reason;
  }
};

TEST_F(BackupRefusalTest, NamesAVersionTextCannotHoldFailWithTheirReason) {
  struct Case {
    const char* name;
    const char* reason;
  };
  for (const Case& c : {Case{"line\nfeed.txt", "its path contains a line feed"},
                        Case{"crlf\r\nname.txt", "its path contains a line feed"},
                        Case{"pipe|name.txt", "its path contains \"|\""}}) {
    SCOPED_TRACE(c.name);
    service_.clearLog();
    std::string path = dataPath(c.name);
    writeFile(path, "content that would be stored unrestorable");
    expectRefusedAtOnce(path, c.reason);
  }
}

// Lines of a version text end at line feeds only, so a carriage return (the
// "Icon\r" files some systems leave in every folder) is kept in the name.
TEST_F(BackupRefusalTest, ANameWithACarriageReturnIsBackedUpAndRestored) {
  for (const char* name : {"Icon\r", "carriage\rreturn.txt"}) {
    SCOPED_TRACE(name);
    std::string path = dataPath(name);
    std::string content = randomContent(300000, 14);
    writeFile(path, content);
    ASSERT_TRUE(backup(path)) << readFile(LogWriter::sharedLogger().currentLogFilepath());
    EXPECT_EQ(lastPosted().name, "BackupFileOK");
    EXPECT_EQ(service_.versions(device_.clientId, path).size(), 1u);
    ASSERT_TRUE(restore(path, restoredPath(name)));
    EXPECT_TRUE(readFile(restoredPath(name)) == content);
  }
}

// Links and other kinds take the same refusal (their kinds: SourceFileTest).
TEST_F(BackupRefusalTest, OnlyRegularFilesAreRead) {
  std::string fifo = dataPath("fifo");
  std::filesystem::create_directories(dataPath(""));
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  expectRefusedAtOnce(fifo, "not a regular file");

  service_.clearLog();
  expectRefusedAtOnce(dataPath(""), "not a regular file");
}

TEST_F(BackupRefusalTest, ArgumentsWithoutAnAbsolutePathFail) {
  for (const Value& args : {Value::object(), Value{{"filePath", ""}}, Value{{"filePath", "relative/file.txt"}},
                            Value{{"filePath", 42}}, Value::array()}) {
    SCOPED_TRACE(args.dump());
    EXPECT_FALSE(engine_->backupFileWithArgs(args, 1));
    EXPECT_EQ(lastPosted().name, "BackupFileFail");
  }
  EXPECT_TRUE(service_.requests("get_ver").empty());
}

TEST_F(BackupRefusalTest, AFileThatIsGoneIsNotAFailure) {
  EXPECT_TRUE(backup(dataPath("never existed.txt")));
  EXPECT_EQ(lastPosted().name, "BackupFileOK");
  EXPECT_TRUE(service_.requests("upload_ver").empty());
}

TEST_F(BackupRefusalTest, TheRevisionRecordsTheBytesThatWereCutNotTheQueuedLength) {
  std::string path = dataPath("grew.bin");
  std::string content = randomContent(400000, 1);
  writeFile(path, content);
  Value args = {{"filePath", path}, {"name", "grew.bin"}, {"fileLength", 1000}};
  ASSERT_TRUE(engine_->backupFileWithArgs(args, 2));
  auto uploads = answered("upload_ver");
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0]["fields"]["size"], "400000");
  ASSERT_TRUE(restore(path, restoredPath("grew.bin")));
  EXPECT_TRUE(readFile(restoredPath("grew.bin")) == content);
}

TEST_F(BackupRefusalTest, WithoutASessionNothingIsPosted) {
  service_.blockUser("ann");
  std::string path = dataPath("a.txt");
  writeFile(path, "a");
  EXPECT_FALSE(backup(path));
  EXPECT_FALSE(restore(path, restoredPath("a.txt")));
  EXPECT_TRUE(posted().empty());
}

}  // namespace
}  // namespace palvero::testing
