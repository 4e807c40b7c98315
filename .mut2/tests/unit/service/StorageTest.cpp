#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "BlobStore.h"
#include "FormCodec.h"
#include "PartialUploads.h"
#include "support/TempHome.h"

namespace palvero::service {
namespace {
namespace fs = std::filesystem;

// --- Form decoding ------------------------------------------------------------

TEST(FormCodecTest, DecodesLikeAFormParserButKeepsStrayPercents) {
  EXPECT_EQ(urlDecode("a+b%2Fc%C3%A9"), "a b/c\xC3\xA9");
  EXPECT_EQ(urlDecode("100%"), "100%");
  EXPECT_EQ(urlDecode("%4"), "%4");
  EXPECT_EQ(urlDecode("%zz%41"), "%zzA");
}

TEST(FormCodecTest, SplitsFieldsAtTheFirstEqualsSignAndKeepsTheFirstValue) {
  auto fields = parseForm("request=check_block&guid=G&blocks=[{ \"size\": 1, \"checksum\": \"A=B\"}]&guid=H&flag");
  EXPECT_EQ(fields["request"], "check_block");
  EXPECT_EQ(fields["guid"], "G");
  EXPECT_EQ(fields["blocks"], "[{ \"size\": 1, \"checksum\": \"A=B\"}]");
  EXPECT_EQ(fields["flag"], "");
  EXPECT_TRUE(parseForm("").empty());
}

TEST(FormCodecTest, FindsACookieAmongOthers) {
  EXPECT_EQ(cookieValue("a=1; PVSESSID=tok; b=2", "PVSESSID"), "tok");
  EXPECT_EQ(cookieValue("PVSESSID=tok", "PVSESSID"), "tok");
  EXPECT_EQ(cookieValue("XPVSESSID=tok", "PVSESSID"), "");
  EXPECT_EQ(cookieValue("", "PVSESSID"), "");
}

// --- Object store ---------------------------------------------------------------

class BlobStoreTest : public ::testing::Test {
 protected:
  std::string root() const { return home_.path() + "/objects"; }
  std::string tmp() const { return home_.path() + "/tmp"; }
  palvero::testing::TempHome home_;
};

TEST_F(BlobStoreTest, StoresReadsAndNeverRewritesAnObject) {
  BlobStore store(root(), tmp(), true);
  std::string first(300000, 'a');
  store.put({{"ABCDEF", first}, {"ABCDEF.pvzip", "packed"}});
  EXPECT_TRUE(store.contains("ABCDEF"));
  EXPECT_EQ(store.read("ABCDEF"), first);
  EXPECT_EQ(store.size("ABCDEF.pvzip"), 6);
  EXPECT_TRUE(fs::exists(root() + "/AB/ABCDEF"));
  store.put({{"ABCDEF", "other"}});
  EXPECT_EQ(store.read("ABCDEF"), first);
  EXPECT_TRUE(fs::is_empty(tmp()));
}

TEST_F(BlobStoreTest, RefusesNamesThatCouldLeaveTheFolder) {
  BlobStore store(root(), tmp(), false);
  for (const char* name : {"", "../x", "a/b", ".hidden", "..", "a b", "x\n"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(BlobStore::isSafeName(name));
    EXPECT_THROW(store.put({{name, "data"}}), std::runtime_error);
    EXPECT_FALSE(store.read(name));
  }
  EXPECT_FALSE(BlobStore::isSafeName(std::string(201, 'A')));
  EXPECT_TRUE(BlobStore::isSafeName(std::string(200, 'A')));
  EXPECT_FALSE(fs::exists(home_.path() + "/x"));
}

TEST_F(BlobStoreTest, AFailedWriteLeavesNoObjectAndNoTemporaryFile) {
  BlobStore store(root(), tmp(), true);
  // A file where the object's folder should be: the rename cannot happen.
  std::ofstream(root() + "/CC") << "in the way";
  EXPECT_THROW(store.put({{"CCDD", "y"}}), std::runtime_error);
  EXPECT_FALSE(store.contains("CCDD"));
  EXPECT_TRUE(fs::is_empty(tmp()));
}

TEST_F(BlobStoreTest, AFullBatchFailsWholeWhenOneNameIsBad) {
  BlobStore store(root(), tmp(), false);
  EXPECT_THROW(store.put({{"GOOD1", "a"}, {"../bad", "b"}}), std::runtime_error);
  EXPECT_FALSE(store.contains("GOOD1"));
  EXPECT_TRUE(fs::is_empty(tmp()));
}

// --- Split uploads ----------------------------------------------------------------

// Bounds far above what these cases send.
PartialUploads roomyUploads() { return PartialUploads(1 << 20, 8, 1 << 22); }

TEST(PartialUploadsTest, PartsWithOffsetsAreAssembledAndRepeatsReplace) {
  PartialUploads uploads = roomyUploads();
  PartialUploads::Key key{"dev", "/f", "session"};
  int64_t received = 0;
  EXPECT_EQ(uploads.addPart(key, 0, "aaaa", &received), PartialUploads::Result::kAccepted);
  EXPECT_EQ(uploads.addPart(key, 4, "bbbb", &received), PartialUploads::Result::kAccepted);
  // The second part again (the client did not see the answer).
  EXPECT_EQ(uploads.addPart(key, 4, "BBBB", &received), PartialUploads::Result::kAccepted);
  EXPECT_EQ(received, 8);
  // A part beyond what arrived is a gap.
  EXPECT_EQ(uploads.addPart(key, 12, "dddd", &received), PartialUploads::Result::kGap);
  EXPECT_EQ(uploads.addPart(key, 8, "cc", &received), PartialUploads::Result::kAccepted);
  EXPECT_EQ(uploads.take(key), "aaaaBBBBcc");
  EXPECT_FALSE(uploads.take(key));
}

TEST(PartialUploadsTest, AFirstPartStartsOverAndSessionsAreSeparate) {
  PartialUploads uploads = roomyUploads();
  PartialUploads::Key one{"dev", "/f", "s1"};
  PartialUploads::Key two{"dev", "/f", "s2"};
  uploads.addPart(one, 0, "old", nullptr);
  uploads.addPart(one, 3, "old", nullptr);
  uploads.addPart(two, 0, "new", nullptr);
  uploads.addPart(one, 0, "fresh", nullptr);
  EXPECT_EQ(uploads.take(one), "fresh");
  EXPECT_EQ(uploads.take(two), "new");
}

TEST(PartialUploadsTest, WithoutOffsetsPartsAreAppended) {
  PartialUploads uploads = roomyUploads();
  PartialUploads::Key key{"dev", "/f", "s"};
  uploads.addPart(key, std::nullopt, "ab", nullptr);
  uploads.addPart(key, std::nullopt, "cd", nullptr);
  EXPECT_EQ(uploads.take(key), "abcd");
}

}  // namespace
}  // namespace palvero::service
