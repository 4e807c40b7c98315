#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "platform/Volumes.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

namespace fs = std::filesystem;
using testing::writeFile;

// A fabricated /sys and mountinfo: one USB stick (removable), one USB hard
// disk (not removable), one SATA disk, and the usual virtual mounts.
class VolumesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    addDisk("sda", "8:0", "/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda", "0");
    addPartition("sda", "sda1", "8:1");
    addDisk("sdb", "8:16", "/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb",
            "1");
    addPartition("sdb", "sdb1", "8:17");
    addDisk("sdc", "8:32", "/devices/pci0000:00/0000:00:14.0/usb2/2-2/2-2:1.0/host7/target7:0:0/7:0:0:0/block/sdc",
            "0");
    addPartition("sdc", "sdc1", "8:33");
  }

  void addDisk(const std::string& name, const std::string& majorMinor, const std::string& devicePath,
               const std::string& removable) {
    disks_[name] = sys_ + devicePath;
    writeFile(sys_ + devicePath + "/removable", removable + "\n");
    writeFile(sys_ + devicePath + "/dev", majorMinor + "\n");
    link(majorMinor, sys_ + devicePath);
  }
  void addPartition(const std::string& disk, const std::string& name, const std::string& majorMinor) {
    std::string path = disks_[disk] + "/" + name;
    writeFile(path + "/partition", "1\n");
    link(majorMinor, path);
  }
  void link(const std::string& majorMinor, const std::string& target) {
    fs::create_directories(sys_ + "/dev/block");
    fs::create_directory_symlink(target, sys_ + "/dev/block/" + majorMinor);
  }

  testing::TempHome home_;
  std::string sys_ = home_ / "sys";
  std::string mountinfo_ = home_ / "mountinfo";
  std::map<std::string, std::string> disks_;
};

TEST_F(VolumesTest, OnlyMountsOfUSBDisksAreListed) {
  writeFile(mountinfo_,
            "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
            "23 22 0:21 / /proc rw,nosuid shared:12 - proc proc rw\n"
            "24 22 0:5 / /dev rw,nosuid shared:2 - devtmpfs udev rw\n"
            "25 22 0:25 / /run rw shared:5 - tmpfs tmpfs rw\n"
            "40 22 8:17 / /media/user/MY\\040STICK rw,nosuid,nodev shared:100 - vfat /dev/sdb1 rw\n"
            "41 22 8:33 / /media/user/Backup\\134Disk rw,nosuid,nodev shared:101 - ext4 /dev/sdc1 rw\n"
            "42 22 8:33 /photos /home/user/photos rw shared:102 - ext4 /dev/sdc1 rw\n"
            "43 22 8:1 / /mnt/data rw - ext4 /dev/sda1 rw\n"
            "garbage line\n");
  Volumes volumes(mountinfo_, sys_);

  auto all = volumes.mountedVolumes();
  ASSERT_EQ(all.size(), 4u);  // the two sda1 mounts and the two USB disks; no virtual or bind mounts
  EXPECT_EQ(all[1].mountPoint, "/media/user/MY STICK");
  EXPECT_EQ(all[1].diskName, "sdb");
  EXPECT_TRUE(all[1].removable);
  EXPECT_TRUE(all[1].usb);
  EXPECT_EQ(all[2].mountPoint, "/media/user/Backup\\Disk");
  EXPECT_FALSE(all[2].removable);
  EXPECT_TRUE(all[2].usb);
  EXPECT_FALSE(all[0].usb);
  EXPECT_FALSE(all[3].usb);

  EXPECT_EQ(volumes.removableUSBVolumes(),
            (std::vector<std::string>{"/media/user/MY STICK", "/media/user/Backup\\Disk"}));
}

TEST_F(VolumesTest, UnreadableOrMissingSourcesGiveNoVolumes) {
  EXPECT_TRUE(Volumes(home_ / "no-mountinfo", sys_).removableUSBVolumes().empty());
  writeFile(mountinfo_, "40 22 8:17 / /media/user/STICK rw - vfat /dev/sdb1 rw\n");
  EXPECT_TRUE(Volumes(mountinfo_, home_ / "no-sys").mountedVolumes().empty());
}

TEST_F(VolumesTest, USBSystemDiskIsNotABackupVolume) {
  writeFile(mountinfo_, "22 1 8:17 / / rw - ext4 /dev/sdb1 rw\n23 22 8:33 / /boot rw - ext4 /dev/sdc1 rw\n");
  EXPECT_TRUE(Volumes(mountinfo_, sys_).removableUSBVolumes().empty());
}

TEST(VolumesEscapeTest, OctalEscapesAreUndone) {
  struct Case {
    const char* field;
    const char* expected;
  } cases[] = {{"/a\\040b", "/a b"},
               {"/tab\\011x", "/tab\tx"},
               {"/nl\\012", "/nl\n"},
               {"/back\\134slash", "/back\\slash"},
               {"/short\\04", "/short\\04"},
               {"/bad\\089", "/bad\\089"},
               {"\\", "\\"},
               {"", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    EXPECT_EQ(Volumes::unescapeMountField(c.field), c.expected);
  }
}

}  // namespace
}  // namespace palvero
