// Two accounts that back up the same file each keep their own blocks (each
// encrypts with its own key), so both restore it, and neither can reach the
// other's blocks or versions.
#include "EngineFixture.h"
#include "state/DBManager.h"

namespace palvero::testing {
namespace {

class AccountIsolationTest : public EngineFixture {
 protected:
  // Makes `who` the identity of this client, as a fresh installation.
  void become(const ServiceProcess::Credentials& who) {
    ServiceProcess::useCredentials(who);
    ASSERT_TRUE(DBManager::sharedDBManager().removeAllCachedBlocks());
    engine_ = newEngine();
  }
};

TEST_F(AccountIsolationTest, TwoAccountsWithTheSameFilesBothRestoreThem) {
  const ServiceProcess::Credentials ann = device_;
  const ServiceProcess::Credentials bob = service_.newDevice("bob", "other-secret");
  ASSERT_NE(ann.accountCipher, bob.accountCipher);
  std::string content = randomContent(900000, 41);
  writeFile(dataPath("shared.bin"), content);

  ASSERT_TRUE(backup(dataPath("shared.bin")));
  std::vector<std::string> annBlocks = uploadedBlockNames();
  ASSERT_FALSE(annBlocks.empty());

  become(bob);
  service_.clearLog();
  ASSERT_TRUE(backup(dataPath("shared.bin")));
  // The service did not claim to hold ann's blocks for bob: bob sent his own.
  EXPECT_EQ(uploadedBlockNames(), annBlocks);
  ASSERT_TRUE(restore(dataPath("shared.bin"), restoredPath("bob.bin")));
  EXPECT_TRUE(readFile(restoredPath("bob.bin")) == content);

  become(ann);
  ASSERT_TRUE(restore(dataPath("shared.bin"), restoredPath("ann.bin")));
  EXPECT_TRUE(readFile(restoredPath("ann.bin")) == content);
}

TEST_F(AccountIsolationTest, AnotherAccountsVersionsAndBlocksAreOutOfReach) {
  const ServiceProcess::Credentials ann = device_;
  std::string content = randomContent(300000, 42);
  writeFile(dataPath("private.bin"), content);
  ASSERT_TRUE(backup(dataPath("private.bin")));
  std::vector<std::string> annBlocks = uploadedBlockNames();
  ASSERT_FALSE(annBlocks.empty());

  become(service_.newDevice("eve", "eve-secret"));
  auto eve = newServer();
  bool offline = false;
  Bytes stream;
  EXPECT_FALSE(eve->GetFileVersionBin(encoded(dataPath("private.bin")), -1, stream, false, offline, ann.clientId));
  EXPECT_FALSE(offline);
  bool compressed = false;
  for (const auto& name : annBlocks) {
    SCOPED_TRACE(name);
    std::string checksum = name.substr(0, name.find('.'));
    EXPECT_FALSE(eve->downloadDataBlock(checksum, "1", stream, compressed, offline));
    EXPECT_FALSE(offline);
  }
  // Asked about ann's blocks, the service says eve holds none of them.
  std::vector<FileBlock> asked;
  for (const auto& name : annBlocks) asked.push_back(FileBlock::initWithSize(256000, name.substr(0, name.find('.'))));
  auto missing = eve->hasServerFileBlocks(asked);
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->size(), asked.size());
  // Nor can eve's restore of that path find anything of ann's.
  EXPECT_FALSE(restore(dataPath("private.bin"), restoredPath("eve.bin")));
  EXPECT_FALSE(std::filesystem::exists(restoredPath("eve.bin")));
}

}  // namespace
}  // namespace palvero::testing
