// The folder tree when a listing fails: the folder must not look empty, and
// opening it again must ask once more.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <atomic>

#include "UiFixture.h"
#include "ui/widgets/FolderTree.h"

namespace palvero::testing {
namespace {

class FlakySource : public ui::FolderSource {
 public:
  std::optional<std::vector<Entry>> children(const std::string& path) override {
    if (path == "/root" && failuresLeft.fetch_sub(1) > 0) return std::nullopt;
    if (path == "/root") return std::vector<Entry>{{"a", "/root/a", true, false}, {"b.txt", "/root/b.txt", false, false}};
    return std::vector<Entry>{};
  }
  std::atomic<int> failuresLeft{1};
};

TEST(FolderTreeTest, AFailedListingIsReportedAndRetriedNotShownAsEmpty) {
  auto source = std::make_shared<FlakySource>();
  ui::FolderTreeModel model(source, [](const std::string&) { return Qt::Unchecked; },
                            [](const std::string&, bool) {});
  QSignalSpy failed(&model, &ui::FolderTreeModel::fetchFailed);
  model.setRoot("/root");
  ASSERT_TRUE(UiFixture::waitFor([&] { return model.pendingFetches() == 0; }));
  ASSERT_EQ(failed.count(), 1);
  EXPECT_EQ(failed.at(0).at(0).toString(), QStringLiteral("/root"));
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_TRUE(model.hasChildren()) << "a folder that could not be listed must not look empty";
  ASSERT_TRUE(model.canFetchMore({}));

  model.fetchMore({});
  ASSERT_TRUE(UiFixture::waitFor([&] { return model.pendingFetches() == 0; }));
  EXPECT_EQ(failed.count(), 1);
  ASSERT_EQ(model.rowCount(), 2);
  EXPECT_EQ(model.index(1, 0).data(Qt::DisplayRole).toString(), QStringLiteral("b.txt"));
  EXPECT_FALSE(model.canFetchMore({}));
}

}  // namespace
}  // namespace palvero::testing
