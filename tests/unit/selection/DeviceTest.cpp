#include <gtest/gtest.h>

#include "protocol/ExtensionCatalogue.h"
#include "selection/CommonExtensions.h"
#include "selection/CommonExtensionsCatalogue.h"
#include "selection/Device.h"
#include "selection/USB.h"
#include "support/TempHome.h"

namespace palvero::testing {
namespace {

TEST(DeviceTest, ATypeThatIsNoNumberIsTypeZero) {
  for (const Value& type : {Value("eleven"), Value()}) {
    SCOPED_TRACE(type.dump());
    Value dictionary = {{"Name", "desk"}, {"DeviceID", "D1"}};
    if (!type.is_null()) dictionary["DeviceType"] = type;
    Device device = Device::initWithDictionary(dictionary);
    EXPECT_EQ(device.deviceType, 0);
    EXPECT_STREQ(device.typeLabel(), "AD");
  }
  EXPECT_EQ(Device::initWithDictionary(Value{{"DeviceType", "21"}}).deviceType, 21);
}

TEST(DeviceTest, ARecordRoundTripsThroughItsDictionary) {
  Value dictionary = {
      {"Name", "desk"},     {"ComputerName", "desk.local"}, {"SerialNumber", "S"},     {"ComputerUUID", "U"},
      {"DeviceType", "31"}, {"ClientVersion", "2.1.0.0"},   {"DeviceEncripting", "x"}, {"DeviceID", "D1"}};
  EXPECT_EQ(Device::initWithDictionary(dictionary).deviceToJson(), dictionary);
  Value empty = Device().deviceToJson();
  EXPECT_EQ(empty.size(), 8u);
  EXPECT_EQ(empty["DeviceType"], "0");
  EXPECT_EQ(empty["Name"], "");
}

TEST(USBTest, TheSerialIsTakenFromTheDeviceInstance) {
  EXPECT_EQ(USB::ParseSerialFromDeviceId("USBSTOR\\DISK&VEN_SANDISK&PROD_ULTRA\\4C530001&0"), "4C530001");
  EXPECT_EQ(USB::ParseSerialFromDeviceId("PLAIN123"), "PLAIN123");
  EXPECT_EQ(USB::ParseSerialFromDeviceId("A\\"), "");
  EXPECT_EQ(USB::GetSerialNumberFromDriveLetter("C:"), "");
  USB disk = USB::initWithParameters("Stick", "123");
  EXPECT_EQ(disk.DiskName, "Stick");
  EXPECT_EQ(disk.SerialNumber, "123");
}

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
