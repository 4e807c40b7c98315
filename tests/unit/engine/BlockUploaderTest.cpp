// The uploader against a scripted service: what it sends for a batch, the
// attempts that follow a re-check, reading a block again, and the hand-over
// that lets the worker prepare the next batch while one is sent.
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <random>

#include "../protocol/ProtocolTestSupport.h"
#include "base/DispatchQueue.h"
#include "base/StdRunLoop.h"
#include "engine/BlockUploader.h"
#include "engine/format/BlockCutter.h"
#include "state/DBManager.h"

namespace palvero::testing {
namespace {

class BlockUploaderTest : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    LocalSettings::sharedManager().setAccountCipher(std::string(32, 'k'));
    // Pacing has tests of its own; here every wait is the uploader's.
    LocalSettings::sharedManager().setRequestPause(0);
    {
      std::lock_guard lock(mutex_);
      checks_.clear();
      uploadedNames_.clear();
    }
    path_ = home_ / "data.bin";
    std::mt19937_64 rng(5);
    Bytes bytes(3 * 256000 + 1000);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    writeFile(path_, stringFromBytes(bytes));
    blocks_ = *BlockCutter().CreateBlocksList(static_cast<int64_t>(bytes.size()), path_);
    ASSERT_EQ(blocks_.size(), 4u);
    ASSERT_EQ(SourceFile::inspect(path_, identity_), SourceFile::Kind::kRegular);
    transport_->setFallback([this](const SentRequest& sent) { return answer(sent); });
  }
  void TearDown() override {
    uploader_.reset();
    ProtocolTest::TearDown();
  }

  static std::string listOf(const std::vector<const FileBlock*>& blocks) {
    Value list = Value::array();
    for (const FileBlock* b : blocks) list.push_back({{"size", b->length}, {"checksum", b->checksum}});
    return list.dump();
  }
  // check_block answers from `checks` in turn (then "[]"); uploads "ok".
  HttpResponse answer(const SentRequest& sent) {
    std::lock_guard lock(mutex_);
    if (sent.body.rfind("request=check_block", 0) == 0) {
      if (checks_.empty()) return reply(200, "[]");
      std::string next = checks_.front();
      checks_.pop_front();
      return reply(200, next);
    }
    if (sent.body.find("upload_blocks_multi") != std::string::npos) {
      uploadedNames_.push_back({});
      for (const auto& part : parseMultipart(sent.body, boundaryOf(sent))) {
        if (part.name == "file[]") uploadedNames_.back().push_back(part.filename);
      }
    }
    return reply(200, "ok");
  }
  BlockUploader::Batch batchOf(std::vector<size_t> indexes, std::vector<size_t> packed) {
    BlockUploader::Batch batch;
    for (size_t i : indexes) {
      batch.blocks.push_back(blocks_[i]);
      batch.large.push_back(blocks_[i]);
    }
    for (size_t i : packed) {
      batch.bodies.emplace_back(Bytes(32, static_cast<uint8_t>(i)), blocks_[i].checksum, blocks_[i].length);
    }
    return batch;
  }
  BlockUploader& uploader() {
    if (!uploader_) uploader_ = std::make_unique<BlockUploader>(server_, cancel_);
    return *uploader_;
  }
  std::vector<std::vector<std::string>> uploads() {
    std::lock_guard lock(mutex_);
    return uploadedNames_;
  }
  bool cached(size_t index) { return DBManager::sharedDBManager().checkBlocks({blocks_[index].checksum}).empty(); }

  std::string path_;
  std::vector<FileBlock> blocks_;
  SourceFile::Identity identity_;
  std::atomic<bool> cancel_{false};
  std::mutex mutex_;
  std::deque<std::string> checks_;                     // guarded by mutex_
  std::vector<std::vector<std::string>> uploadedNames_;  // guarded by mutex_
  std::unique_ptr<BlockUploader> uploader_;
};

TEST_F(BlockUploaderTest, ABlockStillMissingIsReadAgainFromTheReadPathAndNamedByThePath) {
  // The re-check reports block 1, which the worker found held: it is read
  // from the private copy, verified, packed and sent in attempt 1; the log
  // names the file.
  const std::string original = home_ / "busy.db";
  checks_ = {listOf({&blocks_[1]}), listOf({&blocks_[1]}), "[]"};
  uploader().beginFile(original, path_, identity_);
  ASSERT_TRUE(uploader().submit(batchOf({0, 1}, {0})));
  EXPECT_TRUE(uploader().finishFile());
  EXPECT_FALSE(uploader().changeReason());
  EXPECT_EQ(transport_->kinds(), (std::vector<std::string>{"upload_blocks_multi", "check_block", "check_block",
                                                           "upload_blocks_multi", "check_block"}));
  ASSERT_EQ(uploads().size(), 2u);
  EXPECT_EQ(uploads()[1], std::vector<std::string>{blocks_[1].checksum});
  EXPECT_TRUE(cached(1));
  EXPECT_EQ(logLinesStartingWith("Starting DeltaHandler CheckBlocksExistsAndUploadToServer"),
            std::vector<std::string>{"Starting DeltaHandler CheckBlocksExistsAndUploadToServer: " + original +
                                     " with attempt 1"});
}

TEST_F(BlockUploaderTest, AFileThatChangedIsNotReadAgainAndTheChangeIsReported) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> change;
  };
  const Case cases[] = {
      {"rewritten in place",
       [](const std::string& p) {
         std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
         f.seekp(256000 + 10);
         f.put('x');
       }},
      {"removed", [](const std::string& p) { std::remove(p.c_str()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    const size_t failures = logLinesStartingWith("File was not backed up: ").size();
    c.change(path_);
    checks_ = {listOf({&blocks_[1]}), listOf({&blocks_[1]})};
    uploader().beginFile(path_, path_, identity_);
    ASSERT_TRUE(uploader().submit(batchOf({0, 1}, {0})));
    EXPECT_FALSE(uploader().finishFile());
    EXPECT_EQ(uploads().size(), 1u) << "nothing read from a changed file goes out";
    EXPECT_FALSE(cached(1));
    // The engine tries a changed file again: the reason is handed to it
    // rather than logged as a failure here.
    EXPECT_TRUE(uploader().changeReason());
    EXPECT_EQ(logLinesStartingWith("File was not backed up: ").size(), failures);
    // Once a batch of the file failed, later ones are refused.
    EXPECT_FALSE(uploader().submit(batchOf({2}, {2})));
    // The next file starts without the reason.
    uploader().beginFile(path_, path_, identity_);
    EXPECT_FALSE(uploader().changeReason());
    uploader_.reset();
  }
}

TEST_F(BlockUploaderTest, FiveAttemptsThenBackupErrorAndTheFileFails) {
  for (int i = 0; i < 20; ++i) checks_.push_back(listOf({&blocks_[0]}));
  uploader().beginFile(path_, path_, identity_);
  ASSERT_TRUE(uploader().submit(batchOf({0}, {0})));
  EXPECT_FALSE(uploader().finishFile());
  DispatchQueue::global().waitUntilIdle();
  dynamic_cast<StdRunLoop&>(RunLoop::main()).runPending();
  auto kinds = transport_->kinds();
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "upload_blocks_multi"), 5);
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "status"), 1);
  for (const auto& sent : transport_->sent()) {
    if (sent.body.rfind("request=status", 0) != 0) continue;
    EXPECT_NE(sent.body.find("backupError"), std::string::npos) << sent.body;
    EXPECT_NE(sent.body.find("data.bin"), std::string::npos) << sent.body;
  }
  EXPECT_EQ(logLinesStartingWith("Some blocks were sent to server, but not saved for file").size(), 5u);
  EXPECT_FALSE(cached(0));
  // A new file starts clean.
  uploader().beginFile(path_, path_, identity_);
  checks_.clear();
  EXPECT_TRUE(uploader().submit(batchOf({1}, {1})));
  EXPECT_TRUE(uploader().finishFile());
}

TEST_F(BlockUploaderTest, AnOutageIsWaitedOutAndCancelEndsTheWait) {
  transport_->push(transportError(-1009));
  uploader().beginFile(path_, path_, identity_);
  ASSERT_TRUE(uploader().submit(batchOf({0}, {0})));
  EXPECT_TRUE(uploader().finishFile());
  EXPECT_EQ(clock_->totalSlept(), std::chrono::seconds(15));
  EXPECT_EQ(logLinesStartingWith("File or block " + blocks_[0].checksum + " is in wait mode").size(), 1u);

  // An outage that lasts: cancelling ends the wait and fails the file.
  transport_->setFallback([](const SentRequest&) { return transportError(-1009); });
  clock_->setAutoAdvance(false);
  uploader().beginFile(path_, path_, identity_);
  ASSERT_TRUE(uploader().submit(batchOf({1}, {1})));
  while (clock_->blockedSleepers() == 0) std::this_thread::yield();
  cancel_ = true;
  clock_->advance(std::chrono::seconds(1));
  EXPECT_FALSE(uploader().finishFile());
  EXPECT_FALSE(cached(1));
}

TEST_F(BlockUploaderTest, TheWorkerPreparesTheNextBatchWhileOneIsSent) {
  std::mutex gate;
  std::condition_variable opened;
  bool open = false;
  std::atomic<int> uploading{0};
  transport_->setFallback([&](const SentRequest& sent) {
    if (sent.body.find("upload_blocks_multi") != std::string::npos) {
      ++uploading;
      std::unique_lock lock(gate);
      opened.wait(lock, [&] { return open; });
    }
    return answer(sent);
  });
  uploader().beginFile(path_, path_, identity_);
  // The first batch is taken at once: the worker is free while it is sent.
  ASSERT_TRUE(uploader().submit(batchOf({0}, {0})));
  while (uploading.load() == 0) std::this_thread::yield();
  // The next one waits for the uploader: no more than two batches at once.
  std::atomic<bool> handedOver{false};
  std::thread worker([&] { handedOver = uploader().submit(batchOf({1}, {1})); });
  for (int i = 0; i < 50; ++i) std::this_thread::yield();
  EXPECT_FALSE(handedOver.load());
  {
    std::lock_guard lock(gate);
    open = true;
  }
  opened.notify_all();
  worker.join();
  EXPECT_TRUE(handedOver.load());
  EXPECT_TRUE(uploader().finishFile());
  EXPECT_EQ(uploads().size(), 2u);
}

}  // namespace
}  // namespace palvero::testing
