// What the service is asked to delete when exclusions grow: the newly
// excluded file types (never the compound-package boxes, which do not
// exclude) in the service's list form, and the files above a new limit.
#include "app/ExclusionCleanup.h"
#include "selection/CommonExtensions.h"
#include "unit/protocol/ProtocolTestSupport.h"

namespace palvero {
namespace {

using testing::authOk;
using testing::reply;

class ExclusionCleanupTest : public testing::ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    CommonExtensions::resetForTesting();
  }
  void TearDown() override {
    CommonExtensions::resetForTesting();
    ProtocolTest::TearDown();
  }
  // The form of the last request sent.
  std::string lastForm() { return transport_->sent().back().body; }
};

TEST_F(ExclusionCleanupTest, OnlyExtensionsNewlyLeftOutAreListedOnceEach) {
  ExclusionCleanup::FileTypes before = {{"pictureValues", {".JPG"}}, {"diskImagesValues", {".ISO", ".DMG"}}};
  ExclusionCleanup::FileTypes after = {{"pictureValues", {".JPG", ".PNG"}},
                                       {"diskImagesValues", {".DMG"}},
                                       {"videoValues", {".MKV"}},
                                       {"compressedFilesValues", {".ZIP"}},
                                       {"emailValues", {".PNG"}}};
  // Category order of the tabs; the unticked .ISO is not deleted.
  EXPECT_EQ(ExclusionCleanup::newlyExcluded(before, after), ".PNG;.MKV;.ZIP;");
  EXPECT_EQ(ExclusionCleanup::newlyExcluded(after, after), "");
  EXPECT_EQ(ExclusionCleanup::newlyExcluded(after, before), ".ISO;");
}

TEST_F(ExclusionCleanupTest, CompoundPackageBoxesNeverDelete) {
  auto& catalogue = CommonExtensions::sharedExtensionsManager();
  auto before = ExclusionCleanup::currentFileTypes();
  catalogue.setComplexValues(Value{{".APP", true}, {".IPA", true}, {".LPDF", true}});
  catalogue.setMusicValues(Value{{".mp3", true}, {".WAV", false}});
  auto after = ExclusionCleanup::currentFileTypes();
  EXPECT_EQ(after.count("complexValues"), 0u);
  EXPECT_EQ(ExclusionCleanup::newlyExcluded(before, after), ".MP3;");
}

TEST_F(ExclusionCleanupTest, TheDeletionListIsLowerCaseQuotedAndBracketed) {
  struct Case {
    const char* list;
    const char* expected;
  };
  for (Case c :
       {Case{".ISO;.CUE;.BIN;.DMG;", "[\".iso\",\".cue\",\".bin\",\".dmg\"]"}, Case{".TAR.GZ;", "[\".tar.gz\"]"},
        Case{".ISO", "[\".iso\"]"}, Case{"", ""}, Case{";;", ""}, Case{".A\";.B;", "[\".b\"]"}}) {
    EXPECT_EQ(ExclusionCleanup::deletionList(c.list), c.expected) << c.list;
  }
}

TEST_F(ExclusionCleanupTest, SendsTheExtensionListPercentEncodedAndNotImmediately) {
  transport_->push(authOk());
  transport_->push(reply(200, "ok"));
  ExclusionCleanup cleanup(server_);
  EXPECT_TRUE(cleanup.deleteFilesWithExtensions(".ISO;.TAR.GZ;"));
  EXPECT_EQ(transport_->kinds(), (std::vector<std::string>{"auth", "delete"}));
  EXPECT_EQ(lastForm(), "guid=GUID-1&request=delete&immediately=0&extension=%5B%22.iso%22%2C%22.tar.gz%22%5D");
}

TEST_F(ExclusionCleanupTest, SendsTheSizeLimitAndNothingForNoLimit) {
  transport_->push(authOk());
  transport_->push(reply(200, "ok"));
  ExclusionCleanup cleanup(server_);
  EXPECT_TRUE(cleanup.deleteFilesAboveSize(10737418240LL));
  EXPECT_EQ(lastForm(), "guid=GUID-1&request=delete&immediately=0&size=10737418240");
  size_t sent = transport_->count();
  EXPECT_FALSE(cleanup.deleteFilesAboveSize(0));
  EXPECT_FALSE(cleanup.deleteFilesAboveSize(-1));
  EXPECT_FALSE(cleanup.deleteFilesWithExtensions(""));
  EXPECT_EQ(transport_->count(), sent) << "no criterion must ever reach the service";
}

TEST_F(ExclusionCleanupTest, AFailedSessionOrARefusalIsReported) {
  ExclusionCleanup cleanup(server_);
  transport_->push(reply(200, "wrongpas"));
  EXPECT_FALSE(cleanup.deleteFilesAboveSize(1 << 20));
  EXPECT_EQ(transport_->kinds(), (std::vector<std::string>{"auth"}));
  transport_->push(authOk());
  transport_->push(reply(500, "broken"));
  EXPECT_FALSE(cleanup.deleteFilesWithExtensions(".ISO;"));
}

}  // namespace
}  // namespace palvero
