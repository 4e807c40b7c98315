#include <gtest/gtest.h>

#include "platform/HardwareId.h"
#include "platform/UserFolders.h"
#include "support/TempHome.h"

namespace palvero::testing {
namespace {

class HardwareIdTest : public ::testing::Test {
 protected:
  void SetUp() override { HardwareId::setRootForTesting(home_.path()); }
  void TearDown() override { HardwareId::setRootForTesting(""); }
  void firmware(const std::string& name, const std::string& value) {
    writeFile(home_ / ("sys/class/dmi/id/" + name), value);
  }
  void machineId(const std::string& value) { writeFile(home_ / "etc/machine-id", value); }

  TempHome home_;
};

TEST_F(HardwareIdTest, FirmwareValuesWinWhenReadable) {
  firmware("product_serial", "C02XK1ABJGH5\n");
  firmware("product_uuid", "4c4c4544-0042-3510-8052-b4c04f4e3232\n");
  machineId("0123456789abcdef0123456789abcdef\n");
  EXPECT_EQ(HardwareId::serialNumber(), "C02XK1ABJGH5");
  EXPECT_EQ(HardwareId::computerUUID(), "4C4C4544-0042-3510-8052-B4C04F4E3232");
}

TEST_F(HardwareIdTest, PlaceholdersAndMissingFirmwareFallBackToTheMachineId) {
  firmware("product_serial", "To Be Filled By O.E.M.\n");
  firmware("product_uuid", "00000000-0000-0000-0000-000000000000\n");
  machineId("0123456789abcdef0123456789abcdef\n");
  EXPECT_EQ(HardwareId::serialNumber(), "0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(HardwareId::computerUUID(), "01234567-89AB-CDEF-0123-456789ABCDEF");
}

TEST_F(HardwareIdTest, NothingReadableGivesNothing) {
  EXPECT_FALSE(HardwareId::serialNumber());
  EXPECT_FALSE(HardwareId::computerUUID());
  for (const char* bad : {"short", "0123456789abcdef0123456789abcdeg", ""}) {
    SCOPED_TRACE(bad);
    machineId(bad);
    EXPECT_FALSE(HardwareId::computerUUID());
  }
}

TEST(UserFoldersTest, TheUserDirsFileNamesTheFolders) {
  const std::string home = "/home/ann";
  struct Case {
    std::string text;
    std::string documents;
  };
  for (const Case& c :
       {Case{"XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", "/home/ann/Dokumente"},
        Case{"# comment\nXDG_DOCUMENTS_DIR=\"/data/docs/\"\n", "/data/docs"},
        Case{"XDG_DOCUMENTS_DIR=\"$HOME/a\"\nXDG_DOCUMENTS_DIR=\"$HOME/b\"\n", "/home/ann/b"},
        Case{"XDG_DOCUMENTS_DIR=\"$HOME/\"\n", ""}, Case{"XDG_DOCUMENTS_DIR=relative\n", ""},
        Case{"XDG_DOCUMENTS_DIR=\"docs\"\n", ""}, Case{"XDG_DESKTOP_DIR=\"$HOME/D\"\n", ""}, Case{"", ""}}) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(UserFolders::folderFromUserDirs(c.text, "XDG_DOCUMENTS_DIR", home), c.documents);
  }
}

TEST(UserFoldersTest, WithoutTheFileTheFoldersAreInTheHome) {
  TempHome home;
  EXPECT_EQ(UserFolders::documentsDirectory(), home / "Documents");
  EXPECT_EQ(UserFolders::desktopDirectory(), home / "Desktop");
  writeFile(home / ".config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
  EXPECT_EQ(UserFolders::desktopDirectory(), home / "Schreibtisch");
  EXPECT_EQ(UserFolders::documentsDirectory(), home / "Documents");
}

}  // namespace
}  // namespace palvero::testing
