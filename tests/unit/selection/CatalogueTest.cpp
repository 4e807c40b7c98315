#include <gtest/gtest.h>

#include "protocol/ExtensionCatalogue.h"
#include "selection/CommonExtensions.h"
#include "selection/CommonExtensionsCatalogue.h"
#include "support/TempHome.h"

namespace palvero::testing {
namespace {

class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CommonExtensions::resetForTesting();
    CommonExtensionsCatalogue::install();
  }
  void TearDown() override {
    ExtensionCatalogue::setCurrent(nullptr);
    CommonExtensions::resetForTesting();
  }
  TempHome home_;
};

// A program that never installed one still has the selection's catalogue:
// a front end that forgets cannot drop the service's exclusions.
TEST_F(CatalogueTest, WithoutAnInstalledCatalogueTheSelectionsIsUsed) {
  ExtensionCatalogue::setCurrent(nullptr);
  auto catalogue = ExtensionCatalogue::current();
  ASSERT_TRUE(catalogue);
  EXPECT_NE(dynamic_cast<CommonExtensionsCatalogue*>(catalogue.get()), nullptr);
  EXPECT_EQ(ExtensionCatalogue::current(), catalogue) << "made once, then kept";
  ASSERT_TRUE(catalogue->saveParameter("maxSize", 4096));
  EXPECT_EQ(CommonExtensions::sharedExtensionsManager().maxSize().value_or(Value()), Value(4096));
  EXPECT_EQ(catalogue->exclusionsToJSON(), CommonExtensions::sharedExtensionsManager().exclusionsToJSON());
}

TEST_F(CatalogueTest, EveryCategorySelectionReachesItsProperty) {
  auto catalogue = ExtensionCatalogue::current();
  ASSERT_TRUE(catalogue);
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  struct Case {
    const char* storeKey;
    Value (CommonExtensions::*getter)() const;
  };
  for (const Case& c :
       {Case{"picture", &CommonExtensions::pictureValues}, Case{"video", &CommonExtensions::videoValues},
        Case{"email", &CommonExtensions::emailValues}, Case{"music", &CommonExtensions::musicValues},
        Case{"diskImages", &CommonExtensions::diskImagesValues},
        Case{"compressedFiles", &CommonExtensions::compressedFilesValues},
        Case{"backup", &CommonExtensions::backupValues}, Case{"temporarily", &CommonExtensions::temporarilyValues},
        Case{"binary", &CommonExtensions::binaryValues}}) {
    SCOPED_TRACE(c.storeKey);
    Value selection = {{std::string(".") + c.storeKey, true}};
    catalogue->setSelectionValues(c.storeKey, selection);
    EXPECT_EQ((extensions.*c.getter)(), selection);
  }
}

}  // namespace
}  // namespace palvero::testing
