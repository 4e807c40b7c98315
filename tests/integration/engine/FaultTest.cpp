// Faults of the service, of the network and of the file itself during backup
// and restore: outages are waited out, lasting refusals end in failure, a
// file that changes or a damaged block never gives a wrong result.
#include <algorithm>
#include <filesystem>
#include <thread>

#include "EngineFixture.h"
#include "protocol/WorkerActivity.h"

namespace palvero::testing {
namespace {

using ::palvero::testing::PrintTo;

class FaultTest : public EngineFixture {
 protected:
  void TearDown() override {
    WorkerActivity::setStamper(nullptr);
    EngineFixture::TearDown();
  }
};

struct TransientCase {
  const char* label;
  const char* rule;
  // Designed waits the fault costs at least (fake time).
  int waitedSeconds;
};

class TransientBackupFaultTest : public FaultTest, public ::testing::WithParamInterface<TransientCase> {};

TEST_P(TransientBackupFaultTest, TheBackupRidesOutTheFaultAndRestoresWhole) {
  service_.addFault(GetParam().rule);
  std::string path = dataPath("file.bin");
  std::string content = randomContent(700000, 2) + textContent(300000, 3);
  writeFile(path, content);

  ASSERT_TRUE(backup(path));
  EXPECT_EQ(lastPosted().name, "BackupFileOK");
  EXPECT_GE(clock_->totalSlept(), std::chrono::seconds(GetParam().waitedSeconds));
  EXPECT_EQ(service_.versions(device_.clientId, path).size(), 1u);
  ASSERT_TRUE(restore(path, restoredPath("file.bin"))) << lastPosted().userInfo.dump();
  EXPECT_TRUE(readFile(restoredPath("file.bin")) == content);
}

INSTANTIATE_TEST_SUITE_P(Rules, TransientBackupFaultTest,
                         ::testing::Values(TransientCase{"BlockUpload503", "upload_blocks_multi:503:3", 45},
                                           TransientCase{"BlockUploadDropped", "upload_blocks_multi:drop:1", 0},
                                           TransientCase{"BlockUploadReset", "upload_blocks_multi:reset:1", 0},
                                           TransientCase{"BlockUpload502", "upload_blocks_multi:502:2", 2},
                                           TransientCase{"BlockCheckDropped", "check_block:drop:1", 0},
                                           TransientCase{"VersionFetch503", "get_ver:503:2", 30},
                                           TransientCase{"VersionUpload503", "upload_ver:503:2", 10},
                                           TransientCase{"VersionUploadDropped", "upload_ver:drop:1", 0},
                                           TransientCase{"SessionExpired", "check_block:401:1", 0}),
                         labelOf<TransientCase>);

class TransientRestoreFaultTest : public FaultTest, public ::testing::WithParamInterface<TransientCase> {};

TEST_P(TransientRestoreFaultTest, TheRestoreRidesOutTheFault) {
  std::string path = dataPath("file.bin");
  std::string content = randomContent(700000, 4);
  writeFile(path, content);
  ASSERT_TRUE(backup(path));
  service_.addFault(GetParam().rule);
  auto sleptBefore = clock_->totalSlept();

  ASSERT_TRUE(restore(path, restoredPath("file.bin"))) << lastPosted().userInfo.dump();
  EXPECT_EQ(lastPosted().name, "RestoreOK");
  EXPECT_TRUE(readFile(restoredPath("file.bin")) == content);
  EXPECT_GE(clock_->totalSlept() - sleptBefore, std::chrono::seconds(GetParam().waitedSeconds));
}

INSTANTIATE_TEST_SUITE_P(Rules, TransientRestoreFaultTest,
                         ::testing::Values(TransientCase{"BlockDownload503", "get_block:503:2", 30},
                                           TransientCase{"BlockDownloadDropped", "get_block:drop:1", 0},
                                           TransientCase{"BlockDownload429", "get_block:429:2", 10},
                                           TransientCase{"BlockDownload500", "get_block:500:3", 3},
                                           TransientCase{"VersionFetch503", "get_ver:503:1", 15}),
                         labelOf<TransientCase>);

TEST_F(FaultTest, ARefusedBlockCheckFailsTheFileAndTheNextTryStoresIt) {
  service_.addFault("check_block:500:1");
  std::string path = dataPath("file.bin");
  std::string content = randomContent(600000, 16);
  writeFile(path, content);
  EXPECT_FALSE(backup(path));
  EXPECT_TRUE(service_.requests("upload_ver").empty());
  ASSERT_TRUE(backup(path));
  ASSERT_TRUE(restore(path, restoredPath("file.bin")));
  EXPECT_TRUE(readFile(restoredPath("file.bin")) == content);
}

TEST_F(FaultTest, ABlockTheServiceLostIsAMissingPartAndNothingIsWritten) {
  std::string path = dataPath("file.bin");
  writeFile(path, randomContent(700000, 5));
  ASSERT_TRUE(backup(path));
  service_.addFault("get_block:404:always");
  writeFile(restoredPath("file.bin"), "the user's own file");

  EXPECT_FALSE(restore(path, restoredPath("file.bin")));
  EXPECT_EQ(lastPosted().name, "RestoreFail");
  EXPECT_EQ(lastPosted().userInfo["error"], "Missing part of file");
  EXPECT_EQ(readFile(restoredPath("file.bin")), "the user's own file");
  EXPECT_TRUE(leftovers(restoredPath("")).empty());
}

// A file that changes between cutting and the version upload never gives a
// revision that mixes old and new content: that try is dropped and the file
// is tried again at once, and the revision holds its new state whole.
struct ChangeCase {
  const char* label;
  int pause;  // see runPausing()
  std::function<void(const std::string& path)> change;
};

class ChangedFileTest : public FaultTest, public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(ChangedFileTest, AFileChangedDuringItsBackupIsTriedAgainAndRecordedWhole) {
  std::string path = dataPath("changing.bin");
  writeFile(path, randomContent(600000, 6));
  ASSERT_TRUE(backup(path));
  writeFile(path, randomContent(600000, 7));
  service_.clearLog();

  bool ok = runPausing([&] { return backup(path); },
                       [&](int pause) {
                         if (pause == GetParam().pause) GetParam().change(path);
                       });
  EXPECT_TRUE(ok);
  EXPECT_EQ(lastPosted().name, "BackupFileOK");
  EXPECT_EQ(service_.requests("upload_ver").size(), 1u) << "only the second, whole try is recorded";
  EXPECT_EQ(logLinesStartingWith("File changed while it was read: " + path).size(), 1u);
  EXPECT_TRUE(logLinesStartingWith("File was not backed up").empty());
  EXPECT_FALSE(logContains("private copy"));
  ASSERT_TRUE(restore(path, restoredPath("changing.bin")));
  EXPECT_TRUE(readFile(restoredPath("changing.bin")) == readFile(path));
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ChangedFileTest,
    ::testing::Values(
        // Which changes a file's identity shows: SourceFileTest.
        ChangeCase{"TruncatedAfterCutting", 2, [](const std::string& p) { std::filesystem::resize_file(p, 100000); }},
        ChangeCase{"ReplacedAfterCutting", 2,
                   [](const std::string& p) {
                     writeFile(p + ".new", randomContent(600000, 9));
                     std::filesystem::rename(p + ".new", p);
                   }},
        ChangeCase{"RewrittenAfterTheBlocksWentOut", 3,
                   [](const std::string& p) { writeFile(p, randomContent(600000, 10)); }}),
    labelOf<ChangeCase>);

// A file written all the time (a mail store, a database) changes on every
// try: after two it is backed up from a private copy, which holds still, and
// the revision is one state the file really had.
TEST_F(FaultTest, AFileThatKeepsChangingIsBackedUpFromAPrivateCopy) {
  std::string path = dataPath("mailbox");
  writeFile(path, textContent(700000, 13));
  std::vector<std::string> states{readFile(path)};
  bool ok = runPausing([&] { return backup(path); },
                       [&](int) {
                         std::ofstream(path, std::ios::app | std::ios::binary) << "new mail " << states.size() << "\n";
                         states.push_back(readFile(path));
                       });
  ASSERT_TRUE(ok) << readFile(LogWriter::sharedLogger().currentLogFilepath());
  EXPECT_EQ(logLinesStartingWith("File changed while it was read: " + path).size(),
            static_cast<size_t>(DeltaHandler::kTriesBeforePrivateCopy));
  EXPECT_TRUE(logContains("File " + path + " changed while it was read on 2 tries; it is backed up from a private copy"));
  EXPECT_EQ(service_.requests("upload_ver").size(), 1u);
  ASSERT_TRUE(restore(path, restoredPath("mailbox")));
  std::string restored = readFile(restoredPath("mailbox"));
  EXPECT_NE(std::find(states.begin(), states.end() - 1, restored), states.end() - 1)
      << "the revision is a state the file had before the copy's own try";
  // The copy is gone with the try.
  std::error_code ec;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(home_ / ".cache", ec)) {
    EXPECT_EQ(entry.path().filename().string().rfind("private-copy-", 0), std::string::npos) << entry.path();
  }
}

TEST_F(FaultTest, AFileDeletedDuringItsBackupSucceedsWithoutARevision) {
  std::string path = dataPath("deleted.bin");
  writeFile(path, randomContent(600000, 11));
  bool ok = runPausing([&] { return backup(path); },
                       [&](int pause) {
                         if (pause == 2) std::filesystem::remove(path);
                       });
  EXPECT_TRUE(ok);
  EXPECT_EQ(lastPosted().name, "BackupFileOK");
  EXPECT_TRUE(service_.requests("upload_ver").empty());
  EXPECT_TRUE(service_.versions(device_.clientId, path).empty());
}

TEST_F(FaultTest, CancelBeforeABlockIsFetchedIsAMissingPart) {
  std::string path = dataPath("file.bin");
  writeFile(path, randomContent(600000, 12));
  ASSERT_TRUE(backup(path));
  writeFile(restoredPath("file.bin"), "kept");
  engine_->setCancel(true);

  EXPECT_FALSE(restore(path, restoredPath("file.bin")));
  EXPECT_EQ(lastPosted().name, "RestoreFail");
  EXPECT_EQ(lastPosted().userInfo["error"], "Missing part of file");
  EXPECT_TRUE(service_.requests("get_block").empty());
  EXPECT_EQ(readFile(restoredPath("file.bin")), "kept");
  EXPECT_TRUE(leftovers(restoredPath("")).empty());
}

TEST_F(FaultTest, CancelWhileABlockIsWrittenIsAManualCancel) {
  std::string path = dataPath("file.bin");
  writeFile(path, randomContent(600000, 13));
  ASSERT_TRUE(backup(path));
  writeFile(restoredPath("file.bin"), "kept");
  int downloads = 0;
  // As the application's stamper: only the worker's own thread counts (the
  // engine's prefetcher downloads on another).
  const auto worker = std::this_thread::get_id();
  WorkerActivity::setStamper([&](WorkerActivity::Kind kind) {
    if (std::this_thread::get_id() != worker) return;
    if (kind == WorkerActivity::Kind::kRestore && ++downloads == 2) engine_->setCancel(true);
  });

  EXPECT_FALSE(restore(path, restoredPath("file.bin")));
  EXPECT_EQ(lastPosted().userInfo["error"], "Restore manually cancelled");
  EXPECT_EQ(service_.requests("get_block").size(), 2u);
  EXPECT_EQ(readFile(restoredPath("file.bin")), "kept");
  EXPECT_TRUE(leftovers(restoredPath("")).empty());
}

TEST_F(FaultTest, CancelDuringTheBlockUploadFailsTheBackupWithoutARevision) {
  std::string path = dataPath("file.bin");
  writeFile(path, randomContent(600000, 14));
  WorkerActivity::setStamper([&](WorkerActivity::Kind kind) {
    if (kind == WorkerActivity::Kind::kBackup) engine_->setCancel(true);
  });
  EXPECT_FALSE(backup(path));
  EXPECT_EQ(lastPosted().name, "BackupFileFail");
  EXPECT_TRUE(service_.requests("upload_ver").empty());
}

TEST_F(FaultTest, CancelDuringAnOutageStopsTheWait) {
  service_.addFault("get_ver:503:always");
  std::string path = dataPath("file.bin");
  writeFile(path, "content");
  WorkerActivity::setStamper(nullptr);
  std::thread canceller([&] {
    while (clock_->totalSlept() < std::chrono::seconds(60)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    engine_->setCancel(true);
  });
  EXPECT_FALSE(backup(path));
  canceller.join();
  EXPECT_EQ(lastPosted().name, "BackupFileFail");
  EXPECT_FALSE(logLinesStartingWith("File file.bin is in offline break").empty());
}

class CorruptBlockTest : public FaultTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CorruptBlockTest, ADamagedBlockOnTheServiceFailsTheRestoreAndKeepsTheExistingFile) {
  bool text = GetParam();
  std::string path = dataPath("file.bin");
  writeFile(path, text ? textContent(600000, 15) : randomContent(600000, 15));
  ASSERT_TRUE(backup(path));
  // Flip one byte in the middle of the middle block's stored form: AES-CBC
  // still decrypts (the padding is intact), only the content is wrong.
  std::vector<std::string> names = uploadedBlockNames();
  ASSERT_EQ(names.size(), 3u);
  std::string stored = service_.storedBlockPath(names[1], 1);
  std::string bytes = readFile(stored);
  ASSERT_GT(bytes.size(), 100u);
  bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x20);
  writeFile(stored, bytes);
  writeFile(restoredPath("file.bin"), "the user's own file");

  EXPECT_FALSE(restore(path, restoredPath("file.bin")));
  EXPECT_EQ(lastPosted().userInfo["error"], "Missing part of file");
  EXPECT_EQ(readFile(restoredPath("file.bin")), "the user's own file");
  EXPECT_TRUE(leftovers(restoredPath("")).empty());
  EXPECT_FALSE(logLinesStartingWith("Restore error: block").empty());
}

INSTANTIATE_TEST_SUITE_P(Content, CorruptBlockTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return std::string(param.param ? "Packed" : "Plain");
                         });

}  // namespace
}  // namespace palvero::testing
