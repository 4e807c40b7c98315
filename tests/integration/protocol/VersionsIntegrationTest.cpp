#include "ServiceFixture.h"

namespace palvero::testing {
namespace {

class VersionsIntegrationTest : public ServiceFixture {
 protected:
  bool uploadVersion(const std::string& path, const Bytes& bytes, int64_t size = 1000) {
    bool offline = false;
    return server_->updateFileVersionWithFilename(path, size, "20240131 17:05:09", bytes, offline);
  }
  std::optional<Bytes> fetch(const std::string& path, int32_t revision = -1,
                             const std::optional<std::string>& device = std::nullopt) {
    Bytes stream;
    bool offline = false;
    if (!server_->GetFileVersionBin(encoded(path), revision, stream, true, offline, device)) return std::nullopt;
    return stream;
  }
};

TEST_F(VersionsIntegrationTest, AnUploadedVersionComesBackByteForByte) {
  const std::string path = "/home/ann/Documents/r\xC3\xA9sum\xC3\xA9 & notes+1.txt";
  Bytes bytes = randomBytes(20000, 7);
  ASSERT_TRUE(uploadVersion(path, bytes, 123456));
  EXPECT_EQ(fetch(path), bytes);
  Value stored = service_.versions(device_.clientId, path);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0]["size"], 123456);
  EXPECT_EQ(stored[0]["modified"], "20240131 17:05:09");
}

TEST_F(VersionsIntegrationTest, RevisionsAreNumberedAndTheLatestIsMinusOne) {
  ASSERT_TRUE(uploadVersion("/a", bytesFromString("first")));
  ASSERT_TRUE(uploadVersion("/a", bytesFromString("second")));
  EXPECT_EQ(fetch("/a", 1), bytesFromString("first"));
  EXPECT_EQ(fetch("/a", 2), bytesFromString("second"));
  EXPECT_EQ(fetch("/a", -1), bytesFromString("second"));
  EXPECT_FALSE(fetch("/a", 3));
}

TEST_F(VersionsIntegrationTest, ExactlyFiveMillionBytesGoInOneRequest) {
  Bytes bytes = randomBytes(5000000, 8);
  ASSERT_TRUE(uploadVersion("/big", bytes));
  auto uploads = sent("upload_ver");
  ASSERT_EQ(uploads.back()["status"], 200);
  EXPECT_FALSE(uploads.back()["fields"].contains("finalpart"));
  EXPECT_EQ(fetch("/big"), bytes);
}

TEST_F(VersionsIntegrationTest, ASplitUploadIsReassembledByteForByte) {
  Bytes bytes = randomBytes(12345678, 9);
  ASSERT_TRUE(uploadVersion("/huge", bytes));
  std::vector<Value> parts;
  for (const auto& entry : sent("upload_ver")) {
    if (entry["status"] == 200) parts.push_back(entry);
  }
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0]["fields"]["finalpart"], "False");
  EXPECT_EQ(parts[1]["fields"]["finalpart"], "False");
  EXPECT_EQ(parts[2]["fields"]["finalpart"], "True");
  EXPECT_EQ(parts[2]["files"][0]["size"], 2345678);
  EXPECT_EQ(parts[2]["reply"], "ok");
  EXPECT_EQ(fetch("/huge"), bytes);
}

TEST_F(VersionsIntegrationTest, ASplitUploadCutByASessionExpiryStartsOverAndStaysWhole) {
  ASSERT_TRUE(server_->syncAuthorise());
  service_.addFault("upload_ver:401:1:skip=1");
  Bytes bytes = randomBytes(11000000, 10);
  ASSERT_TRUE(uploadVersion("/restart", bytes));
  EXPECT_EQ(fetch("/restart"), bytes);
  EXPECT_EQ(service_.versions(device_.clientId, "/restart").size(), 1u);
}

TEST_F(VersionsIntegrationTest, ASplitUploadCutByAnOutageIsSentAgainWhole) {
  ASSERT_TRUE(server_->syncAuthorise());
  service_.addFault("upload_ver:drop:2:skip=1");
  Bytes bytes = randomBytes(11000000, 11);
  bool offline = false;
  EXPECT_FALSE(server_->updateFileVersionWithFilename("/again", 1, "20240131 17:05:09", bytes, offline));
  EXPECT_TRUE(offline);
  service_.clearFaults();
  // The engine waits and sends the same file again in the same session.
  EXPECT_TRUE(server_->updateFileVersionWithFilename("/again", 1, "20240131 17:05:09", bytes, offline));
  EXPECT_FALSE(offline);
  EXPECT_EQ(fetch("/again"), bytes);
}

TEST_F(VersionsIntegrationTest, AnotherDeviceOfTheAccountReadsTheHistory) {
  ASSERT_TRUE(uploadVersion("/shared.txt", bytesFromString("from device one")));
  auto second = service_.enrolDevice("ann", "secret", "laptop");
  ServiceProcess::useCredentials(second);
  auto laptop = newServer();
  Bytes stream;
  bool offline = false;
  ASSERT_TRUE(laptop->GetFileVersionBin(encoded("/shared.txt"), -1, stream, false, offline, device_.clientId));
  EXPECT_EQ(stringFromBytes(stream), "from device one");
  EXPECT_EQ(sent("get_ver").back()["fields"]["sourceDeviceId"], device_.clientId);
  // A "null" device asks the caller's own history, which is empty.
  EXPECT_FALSE(laptop->GetFileVersionBin(encoded("/shared.txt"), -1, stream, false, offline, "(null)"));
  EXPECT_FALSE(sent("get_ver").back()["fields"].contains("sourceDeviceId"));
}

// --- Deletion -----------------------------------------------------------------

class DeletionIntegrationTest : public VersionsIntegrationTest {};

TEST_F(DeletionIntegrationTest, APathAndASizeSendOnlyThePath) {
  ASSERT_TRUE(uploadVersion("/a/x.txt", bytesFromString("x"), 10));
  ASSERT_TRUE(uploadVersion("/b/big.bin", bytesFromString("b"), 5000));
  ASSERT_TRUE(server_->syncDeleteVerFile(encoded("/a"), 100, std::nullopt, true));
  auto deletes = sent("delete");
  ASSERT_EQ(deletes.size(), 1u);
  EXPECT_EQ(deletes[0]["fields"]["path"], "/a");
  EXPECT_FALSE(deletes[0]["fields"].contains("size"));
  EXPECT_FALSE(fetch("/a/x.txt"));
  EXPECT_EQ(fetch("/b/big.bin"), bytesFromString("b"));
  EXPECT_EQ(logLinesStartingWith("Deleting file versions"),
            std::vector<std::string>{"Deleting file versions. Path %2Fa removed successfully"});
}

TEST_F(DeletionIntegrationTest, ALaterDeletionMarksInsteadOfRemoving) {
  ASSERT_TRUE(uploadVersion("/keep/small.txt", bytesFromString("s"), 10));
  ASSERT_TRUE(uploadVersion("/keep/large.iso", bytesFromString("l"), 900000));
  ASSERT_TRUE(server_->syncDeleteVerFile(std::nullopt, 1000, std::nullopt, false));
  EXPECT_FALSE(service_.versions(device_.clientId, "/keep/small.txt")[0]["toDelete"].get<bool>());
  EXPECT_TRUE(service_.versions(device_.clientId, "/keep/large.iso")[0]["toDelete"].get<bool>());
  // A marked version is still there until a backup asks for it again.
  EXPECT_EQ(fetch("/keep/large.iso"), bytesFromString("l"));
  EXPECT_FALSE(service_.versions(device_.clientId, "/keep/large.iso")[0]["toDelete"].get<bool>());
}

TEST_F(DeletionIntegrationTest, AListOfPathsAndAListOfExtensions) {
  for (const char* path : {"/p/one.txt", "/p/two.txt", "/p/three.JPG", "/p/four.png", "/q/five.doc"}) {
    ASSERT_TRUE(uploadVersion(path, bytesFromString(path)));
  }
  ASSERT_TRUE(server_->syncDeleteVerFile(encoded("[\"/p/one.txt\",\"/p/two.txt\"]"), 0, std::nullopt, true));
  ASSERT_TRUE(server_->syncDeleteVerFile(std::nullopt, 0, encoded("[\".jpg\",\".png\"]"), true));
  for (const char* gone : {"/p/one.txt", "/p/two.txt", "/p/three.JPG", "/p/four.png"}) {
    EXPECT_FALSE(fetch(gone)) << gone;
  }
  EXPECT_EQ(fetch("/q/five.doc"), bytesFromString("/q/five.doc"));
}

TEST_F(DeletionIntegrationTest, AListJsonCannotCarryIsRefusedAndANameThatIsNoUtf8GoesAlone) {
  const std::string latin1 = "/p/caf\xe9.txt";
  ASSERT_TRUE(uploadVersion("/p/plain.txt", bytesFromString("p")));
  ASSERT_TRUE(uploadVersion(latin1, bytesFromString("l")));
  // Read as one name it would match nothing, and "ok" would be a lie.
  EXPECT_FALSE(server_->syncDeleteVerFile(encoded("[\"/p/plain.txt\",\"" + latin1 + "\"]"), 0, std::nullopt, true));
  EXPECT_EQ(sent("delete").back()["status"], 400);
  EXPECT_EQ(fetch("/p/plain.txt"), bytesFromString("p"));
  ASSERT_TRUE(server_->syncDeleteVerFile(encoded(latin1), 0, std::nullopt, true));
  EXPECT_FALSE(fetch(latin1));
  EXPECT_EQ(fetch("/p/plain.txt"), bytesFromString("p"));
}

}  // namespace
}  // namespace palvero::testing
