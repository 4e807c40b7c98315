// Pacing of one request object's requests by "RequestPause", on the fake
// clock: what each request waits for, measured as the time slept.
#include "ProtocolTestSupport.h"
#include "engine/format/Compressor.h"

namespace palvero::testing {
namespace {

using std::chrono::milliseconds;

class RequestPacingTest : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    transport_->setFallback([](const SentRequest& sent) {
      if (sent.body.find("request=check_block") != std::string::npos) return reply(200, "[]");
      if (sent.body.find("request=get_folder_page") != std::string::npos) {
        return reply(200, R"({"pagesCount": 2, "page": )" + std::string(sent.body.back() == '1' ? "1" : "2") +
                              R"(, "data": []})");
      }
      if (sent.body.find("request=get_files_list") != std::string::npos) return reply(200, packedList());
      return authOk();
    });
  }

 public:
  static void setPause(double seconds) { LocalSettings::sharedManager().setRequestPause(seconds); }
  Clock::Duration sleptDuring(const std::function<void()>& work) {
    auto before = clock_->totalSlept();
    work();
    return clock_->totalSlept() - before;
  }
  bool getVer() {
    Bytes stream;
    bool offline = false;
    return server_->GetFileVersionBin("%2Fa", -1, stream, true, offline, std::nullopt);
  }
  bool uploadVer() {
    bool offline = false;
    return server_->updateFileVersionWithFilename("/a", 1, "20240131 17:05:09", bytesFromString("v"), offline);
  }
  bool uploadBlocks() {
    bool offline = false;
    return server_->uploadDataBlockList({FileBlockToSend(Bytes(400, 1), "AA", 400)}, offline);
  }
  bool check() {
    FileBlock block = FileBlock::initWithSize(400, "AA");
    return server_->hasServerFileBlocks({block}).has_value();
  }
  static std::string packedList() {
    Compressor compressor;
    Bytes out;
    std::string errorText;
    int32_t errorType = 0;
    compressor.CompressPackageStream(bytesFromString("[]"), out, "list.json", "", errorText, errorType, "t");
    return stringFromBytes(out);
  }
};

TEST_F(RequestPacingTest, PacedRequestsWaitThePauseSinceTheWorkersPreviousExchange) {
  struct Case {
    const char* name;
    std::function<bool(RequestPacingTest&)> request;
  };
  const Case cases[] = {
      {"get_ver", &RequestPacingTest::getVer},
      {"check_block", &RequestPacingTest::check},
      {"upload_ver", &RequestPacingTest::uploadVer},
  };
  for (double pause : {0.1, 0.25}) {
    setPause(pause);
    const auto gap = std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(pause));
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " after " + std::to_string(pause));
      ASSERT_TRUE(server_->syncAuthorise());
      EXPECT_EQ(sleptDuring([&] { EXPECT_TRUE(c.request(*this)); }), gap) << "right after the previous reply";
      // Work done since the previous reply counts towards the pause.
      clock_->advance(milliseconds(60));
      EXPECT_EQ(sleptDuring([&] { EXPECT_TRUE(c.request(*this)); }), gap - milliseconds(60));
      clock_->advance(gap);
      EXPECT_EQ(sleptDuring([&] { EXPECT_TRUE(c.request(*this)); }), Clock::Duration::zero())
          << "a worker that was busy longer than the pause does not wait";
    }
  }
}

TEST_F(RequestPacingTest, WithoutPacingNoRequestSleeps) {
  setPause(0);
  auto slept = sleptDuring([&] {
    for (int round = 0; round < 3; ++round) {
      EXPECT_TRUE(server_->syncAuthorise());
      EXPECT_TRUE(getVer());
      EXPECT_TRUE(check());
      EXPECT_TRUE(uploadBlocks());
      EXPECT_TRUE(check());
      EXPECT_TRUE(uploadVer());
      EXPECT_TRUE(server_->getFolderWithPath("/a", std::nullopt, false));
      EXPECT_TRUE(server_->getGetFilesList("/a", std::nullopt));
    }
  });
  EXPECT_EQ(slept, Clock::Duration::zero());
  EXPECT_EQ(transport_->count(), 3u * 9u);
}

TEST_F(RequestPacingTest, UnpacedRequestsGoAtOnce) {
  setPause(0.1);
  ASSERT_TRUE(server_->syncAuthorise());
  EXPECT_EQ(sleptDuring([&] { EXPECT_TRUE(uploadBlocks()); }), Clock::Duration::zero());
  EXPECT_EQ(sleptDuring([&] { EXPECT_TRUE(server_->syncAuthorise()); }), Clock::Duration::zero());
  // A listing spaces listing requests only.
  ASSERT_TRUE(server_->getGetFilesList("/a", std::nullopt));
  EXPECT_EQ(sleptDuring([&] { EXPECT_TRUE(uploadBlocks()); }), Clock::Duration::zero());
}

TEST_F(RequestPacingTest, ListingRequestsWaitTwiceThePauseAfterThePreviousListing) {
  setPause(0.1);
  // Two pages: the second waits 0.2 s after the first one's reply; the
  // first waits for nothing, no listing came before it.
  EXPECT_EQ(sleptDuring([&] { EXPECT_TRUE(server_->getFolderWithPath("/a", std::nullopt, false)); }),
            milliseconds(200));
  EXPECT_EQ(sleptDuring([&] { EXPECT_TRUE(server_->getGetFilesList("/a", std::nullopt)); }), milliseconds(200));
  clock_->advance(milliseconds(150));
  EXPECT_EQ(sleptDuring([&] { EXPECT_TRUE(server_->getGetFilesList("/b", std::nullopt)); }), milliseconds(50));
}

TEST_F(RequestPacingTest, EachWorkerIsPacedOnItsOwn) {
  setPause(0.1);
  auto other = CommunicationServer::create(kURL, transport_);
  ASSERT_TRUE(server_->syncAuthorise());
  clock_->advance(milliseconds(100));
  // The other worker's exchange is not this worker's previous one.
  ASSERT_TRUE(other->syncAuthorise());
  EXPECT_EQ(sleptDuring([&] { EXPECT_TRUE(getVer()); }), Clock::Duration::zero());
  Bytes stream;
  bool offline = false;
  auto otherGetVer = [&] { EXPECT_TRUE(other->GetFileVersionBin("%2Fb", -1, stream, true, offline, "")); };
  EXPECT_EQ(sleptDuring(otherGetVer), milliseconds(100));
}

TEST_F(RequestPacingTest, TheServicesLatestWordCounts) {
  ASSERT_TRUE(server_->syncAuthorise());
  EXPECT_EQ(sleptDuring([&] { EXPECT_TRUE(getVer()); }), milliseconds(100)) << "the default pacing";
  LocalSettings::sharedManager().saveJSONValues(Value{{"RequestPause", 0}});
  EXPECT_EQ(sleptDuring([&] { EXPECT_TRUE(getVer()); }), Clock::Duration::zero());
  LocalSettings::sharedManager().saveJSONValues(Value{{"RequestPause", "0.3"}});
  EXPECT_EQ(sleptDuring([&] { EXPECT_TRUE(getVer()); }), milliseconds(300));
}

}  // namespace
}  // namespace palvero::testing
