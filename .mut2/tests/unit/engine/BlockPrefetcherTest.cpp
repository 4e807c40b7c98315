// The restore's prefetcher against a scripted service: a download runs while
// the worker is busy, is handed over once, and one the worker does not want
// (or that failed) leaves the block to the worker.
#include <condition_variable>
#include <mutex>

#include "../protocol/ProtocolTestSupport.h"
#include "engine/BlockPrefetcher.h"

namespace palvero::testing {
namespace {

class BlockPrefetcherTest : public ProtocolTest {
 protected:
  std::string checksumOf(const SentRequest& sent) {
    size_t at = sent.body.find("checksum=");
    return sent.body.substr(at + 9, sent.body.find('&', at) - at - 9);
  }
};

TEST_F(BlockPrefetcherTest, ADownloadRunsWhileTheWorkerIsBusyAndIsTakenOnce) {
  std::mutex gate;
  std::condition_variable opened;
  bool open = false;
  transport_->setFallback([&](const SentRequest& sent) {
    std::unique_lock lock(gate);
    opened.wait(lock, [&] { return open; });
    return reply(200, "body of " + checksumOf(sent), {{"Zipped", "True"}});
  });
  BlockPrefetcher prefetcher(server_);
  // start() returns while its request waits for the service's answer (a
  // start that waited for it would never return here).
  prefetcher.start("AA", "300");
  while (transport_->count() == 0) std::this_thread::yield();
  {
    std::lock_guard lock(gate);
    open = true;
  }
  opened.notify_all();
  Bytes stored;
  bool packed = false;
  ASSERT_TRUE(prefetcher.take("AA", stored, packed));
  EXPECT_EQ(stringFromBytes(stored), "body of AA");
  EXPECT_TRUE(packed);
  EXPECT_EQ(transport_->kinds(), std::vector<std::string>{"get_block"});
  EXPECT_FALSE(prefetcher.take("AA", stored, packed)) << "handed over once";
}

TEST_F(BlockPrefetcherTest, ABlockNotPrefetchedOrNotDeliveredIsLeftToTheWorker) {
  struct Case {
    const char* name;
    HttpResponse answer;
    const char* started;
    const char* taken;
  };
  const Case cases[] = {
      {"another block", reply(200, "x"), "AA", "BB"},
      {"missing on the service", reply(404, ""), "AA", "AA"},
      {"service down", transportError(-1004), "AA", "AA"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    startOver();
    transport_->setFallback([&](const SentRequest&) { return c.answer; });
    BlockPrefetcher prefetcher(server_);
    prefetcher.start(c.started, "300");
    Bytes stored{1, 2, 3};
    bool packed = false;
    EXPECT_FALSE(prefetcher.take(c.taken, stored, packed));
    EXPECT_EQ(stored, (Bytes{1, 2, 3}));
    // Whatever was under way is dropped, not delivered for a later block.
    EXPECT_FALSE(prefetcher.take(c.started, stored, packed));
  }
}

TEST_F(BlockPrefetcherTest, ANewStartDropsTheDownloadNotTaken) {
  transport_->setFallback([&](const SentRequest& sent) { return reply(200, checksumOf(sent)); });
  BlockPrefetcher prefetcher(server_);
  prefetcher.start("AA", "300");
  prefetcher.start("BB", "300");
  Bytes stored;
  bool packed = true;
  ASSERT_TRUE(prefetcher.take("BB", stored, packed));
  EXPECT_EQ(stringFromBytes(stored), "BB");
  EXPECT_FALSE(packed);
  EXPECT_FALSE(prefetcher.take("AA", stored, packed));
}

TEST_F(BlockPrefetcherTest, DestroyingItWaitsForTheDownloadUnderWay) {
  std::atomic<bool> answered{false};
  transport_->setFallback([&](const SentRequest&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    answered = true;
    return reply(200, "x");
  });
  {
    BlockPrefetcher prefetcher(server_);
    prefetcher.start("AA", "300");
    while (transport_->count() == 0) std::this_thread::yield();
  }
  EXPECT_TRUE(answered.load());
}

}  // namespace
}  // namespace palvero::testing
