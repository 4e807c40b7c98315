#include <gtest/gtest.h>

#include "state/BackupFile.h"

namespace palvero {
namespace {

TEST(BackupFileTest, ValueRoundTripKeepsEveryField) {
  BackupFile file{"/home/u/it's.txt", kQueueFailed, "2024-01-31 17:05", int64_t{1} << 42, "disk error"};
  auto back = BackupFile::fromValue(file.toValue());
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, file);
  // Through text, as the preferences store keeps it.
  EXPECT_EQ(BackupFile::fromValue(Value::parse(file.toValue().dump())), file);
}

TEST(BackupFileTest, FromValueNeedsATextPathAndDefaultsTheRest) {
  const Value rejected[] = {Value(), Value::array(), Value{{"status", 1}}, Value{{"path", 3}}, Value("/x")};
  for (const auto& value : rejected) {
    SCOPED_TRACE(value.dump());
    EXPECT_FALSE(BackupFile::fromValue(value));
  }
  auto partial = BackupFile::fromValue(Value{{"path", "/p"}, {"size", "big"}, {"status", nullptr}});
  ASSERT_TRUE(partial);
  EXPECT_EQ(*partial, (BackupFile{"/p", kQueueWaiting, "", 0, ""}));
}

}  // namespace
}  // namespace palvero
