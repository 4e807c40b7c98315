#include "ServiceFixture.h"

namespace palvero::testing {
namespace {

using SessionIntegrationTest = ServiceFixture;

TEST_F(SessionIntegrationTest, ASessionThatExpiresInTheMiddleOfABackupIsRenewed) {
  ASSERT_TRUE(server_->syncAuthorise());
  bool offline = false;
  std::vector<FileBlockToSend> first = {FileBlockToSend(randomBytes(5000, 1), std::string(64, 'A'), 5000)};
  ASSERT_TRUE(server_->uploadDataBlockList(first, offline));
  service_.expireSessions();
  std::vector<FileBlockToSend> second = {FileBlockToSend(randomBytes(5000, 2), std::string(64, 'B'), 5000)};
  ASSERT_TRUE(server_->uploadDataBlockList(second, offline));
  EXPECT_EQ(kinds(), (std::vector<std::string>{"auth", "upload_blocks_multi", "upload_blocks_multi", "auth",
                                               "upload_blocks_multi"}));
  EXPECT_EQ(sent("upload_blocks_multi")[1]["status"], 401);
  EXPECT_TRUE(service_.block(std::string(64, 'B'))["held"].get<bool>());
}

// --- Timeouts ------------------------------------------------------------------

TEST_F(SessionIntegrationTest, ATimeoutIsAFailedAttemptNotAnOutage) {
  ASSERT_TRUE(server_->syncAuthorise());
  server_->setRequestTimeout(std::chrono::milliseconds(200));
  service_.addFault("get_ver:delay=450:always");
  Bytes stream;
  bool offline = true;
  EXPECT_FALSE(server_->GetFileVersionBin(encoded("/a"), -1, stream, true, offline, std::nullopt));
  EXPECT_FALSE(offline);
  EXPECT_EQ(logLinesStartingWith("GetFileVersionBin FAIL on attempt").size(), 5u);
}

}  // namespace
}  // namespace palvero::testing
