#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "drive/mountinfo.h"
#include "drive/linux/udisks_linux.h"
#include "drive/linux/unmounted_linux.h"
#include "temp_dir.h"

#ifndef FLASHDROP_FIXTURES
#define FLASHDROP_FIXTURES "tests/fixtures"
#endif

namespace {

std::string boot_sector(const std::string& name) {
  std::ifstream in(std::string(FLASHDROP_FIXTURES) + "/boot-sectors/" + name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool is_fat(const std::string& sector) {
  return is_fat_boot_sector(reinterpret_cast<const uint8_t*>(sector.data()), sector.size());
}

// A captured sector with `bytes` written at `offset`.
std::string patched(std::string sector, size_t offset, const std::string& bytes) {
  sector.replace(offset, bytes.size(), bytes);
  return sector;
}

TEST(BootSectorTest, FatIsToldFromOtherFirstSectors) {
  const std::string fat16 = boot_sector("fat16.bin");
  ASSERT_EQ(fat16.size(), 512u);
  const struct {
    const char* what;
    std::string sector;
    bool fat;
  } cases[] = {
      {"FAT12, mkfs.vfat", boot_sector("fat12.bin"), true},
      {"FAT16, mkfs.vfat", fat16, true},
      {"FAT32, mkfs.vfat", boot_sector("fat32.bin"), true},
      {"FAT16, near jump", patched(fat16, 0, std::string("\xE9\x00\x00", 3)), true},
      {"MBR of a partitioned disk", boot_sector("mbr.bin"), false},
      {"ext2 or an erased stick", std::string(512, '\0'), false},
      // exFAT keeps its jump and name but zeroes the BIOS parameter block.
      {"exFAT", patched(patched(std::string(512, '\0'), 0, "\xEB\x76\x90"), 3, "EXFAT   "), false},
      {"NTFS: no reserved sectors, no FAT",
       patched(patched(fat16, 3, "NTFS    "), 14, std::string("\0\0\0", 3)), false},
      {"no jump instruction", patched(fat16, 0, std::string("\x33\xC0\x8E", 3)), false},
      {"sector size 384", patched(fat16, 11, std::string("\x80\x01", 2)), false},
      {"3 sectors per cluster", patched(fat16, 13, "\x03"), false},
      {"no FAT", patched(fat16, 16, std::string("\0", 1)), false},
      {"no total sector count", patched(fat16, 19, std::string("\0\0", 2)), false},
      {"media byte 0x12", patched(fat16, 21, "\x12"), false},
      {"short read", fat16.substr(0, 511), false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_fat(c.sector), c.fat) << c.what;
}

TEST(UdevRecordTest, OnlyAnIdFsTypeLineOfVfatMeansFat) {
  const struct {
    const char* record;
    FsKind kind;
  } cases[] = {
      {"S:disk/by-label/BOOT\nE:ID_FS_VERSION=FAT16\nE:ID_FS_TYPE=vfat\nE:ID_FS_USAGE=filesystem\n",
       FsKind::kFat},
      {"E:ID_FS_TYPE=vfat", FsKind::kFat},
      {"E:ID_FS_TYPE=exfat\n", FsKind::kOther},
      {"E:ID_FS_TYPE=ext4\n", FsKind::kOther},
      {"E:ID_FS_TYPE=vfat2\n", FsKind::kOther},
      {"E:ID_PART_TABLE_TYPE=dos\nE:ID_FS_TYPE=\n", FsKind::kOther},
      {"E:ID_PART_TABLE_TYPE=dos\n", FsKind::kOther},
      {"E:XID_FS_TYPE=vfat\nE:ID_FS_TYPE_OLD=vfat\n", FsKind::kOther},
      {"", FsKind::kOther},
  };
  for (const auto& c : cases) EXPECT_EQ(fs_kind_from_udev(c.record), c.kind) << c.record;
}

TEST(UdisksOutcomeTest, ErrorNamesDecideBetweenRefusalFallbackBusyAndFailure) {
  const struct {
    const char* name;
    UdisksOutcome outcome;
  } cases[] = {
      {"org.freedesktop.UDisks2.Error.NotAuthorized", UdisksOutcome::kRefused},
      {"org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain", UdisksOutcome::kRefused},
      {"org.freedesktop.UDisks2.Error.NotAuthorizedDismissed", UdisksOutcome::kRefused},
      {"org.freedesktop.DBus.Error.ServiceUnknown", UdisksOutcome::kUnavailable},
      {"org.freedesktop.DBus.Error.UnknownObject", UdisksOutcome::kUnavailable},
      {"org.freedesktop.DBus.Error.UnknownMethod", UdisksOutcome::kUnavailable},
      {"org.freedesktop.DBus.Error.Spawn.ChildExited", UdisksOutcome::kUnavailable},
      {"org.freedesktop.UDisks2.Error.AlreadyMounted", UdisksOutcome::kBusy},
      {"org.freedesktop.UDisks2.Error.Failed", UdisksOutcome::kFailed},
      {"org.freedesktop.DBus.Error.AccessDenied", UdisksOutcome::kFailed},
  };
  for (const auto& c : cases) EXPECT_EQ(udisks_outcome(c.name), c.outcome) << c.name;
}

// /sys/block, /run/udev/data and /dev as the kernel and udev lay them out,
// built per test.
class BlockTreeTest : public ::testing::Test {
 protected:
  BlockTreeTest() {
    roots_.sys = root_ / "sys";
    roots_.udev = root_ / "run/udev";
    roots_.dev = root_ / "dev";
    root_.mkdir("sys/block");
    root_.mkdir("dev");
  }

  // A disk; `scsi_type` 5 is an optical drive, `sectors` 0 an empty reader.
  // /sys/block/NAME links to the device's directory, as in sysfs.
  void disk(const std::string& name, const std::string& dev, const char* removable,
            const char* scsi_type = "0", const char* sectors = "16384",
            const std::string& parent = "pci0000:00/0000:00:14.0/usb2/2-1/host0") {
    const std::string dir = "sys/devices/" + parent + "/block/" + name;
    root_.write(dir + "/removable", std::string(removable) + "\n");
    root_.write(dir + "/dev", dev + "\n");
    root_.write(dir + "/size", std::string(sectors) + "\n");
    root_.write(dir + "/device/type", std::string(scsi_type) + "\n");
    root_.symlink("../devices/" + parent + "/block/" + name, "sys/block/" + name);
  }
  void partition(const std::string& disk, const std::string& name, const std::string& dev) {
    const std::string dir = "sys/block/" + disk + "/" + name;  // through the disk's link
    root_.write(dir + "/partition", "1\n");
    root_.write(dir + "/dev", dev + "\n");
    root_.write(dir + "/size", "2048\n");
  }
  void udev(const std::string& dev, const std::string& fs_type) {
    root_.write("run/udev/data/b" + dev, "S:disk/by-id/usb-x\nE:ID_FS_TYPE=" + fs_type + "\n");
  }

  std::vector<std::string> found(const std::string& mountinfo = "") const {
    return unmounted_fat_devices(parse_mountinfo(mountinfo), roots_);
  }
  std::string dev(const std::string& name) const { return root_ / ("dev/" + name); }

  TempDir root_;
  LinuxRoots roots_;
};

TEST_F(BlockTreeTest, RemovableUnmountedFatDevicesInDeviceOrder) {
  // Device order is by number, not by name.
  disk("sdaa", "65:160", "1");
  udev("65:160", "vfat");
  disk("sdq", "65:0", "1");
  udev("65:0", "vfat");
  disk("sdg", "8:96", "1");
  udev("8:96", "vfat");
  disk("sda", "8:0", "1");  // partitioned: its FAT partition counts, not the disk
  root_.write("run/udev/data/b8:0", "E:ID_PART_TABLE_TYPE=dos\n");
  partition("sda", "sda1", "8:1");
  udev("8:1", "vfat");
  partition("sda", "sda2", "8:2");
  udev("8:2", "ext4");
  disk("sdb", "8:16", "1");  // mounted, if only a subdirectory of it
  udev("8:16", "vfat");
  disk("sdc", "8:32", "0");  // fixed
  udev("8:32", "vfat");
  disk("sdd", "8:48", "1", "0", "0");  // card reader without a card
  udev("8:48", "vfat");
  disk("sr0", "11:0", "1", "5");
  udev("11:0", "vfat");
  disk("sdf", "8:80", "1");
  udev("8:80", "exfat");
  disk("vda", "254:0", "0");
  udev("254:0", "vfat");
  disk("loop0", "7:0", "1", "0", "16384", "virtual");  // loop, zram, dm: nothing to unplug
  udev("7:0", "vfat");
  EXPECT_EQ(found("30 1 8:16 /firmware /mnt/fw rw - vfat /dev/sdb rw\n"),
            (std::vector<std::string>{dev("sda1"), dev("sdg"), dev("sdq"), dev("sdaa")}));
  EXPECT_EQ(found("30 1 8:1 / /media/BOOT rw - vfat /dev/sda1 rw\n"
                  "31 1 8:16 / /media/B rw - vfat /dev/sdb rw\n"),
            (std::vector<std::string>{dev("sdg"), dev("sdq"), dev("sdaa")}));
}

TEST_F(BlockTreeTest, WithoutAUdevRecordTheFirstSectorDecides) {
  disk("sda", "8:0", "1");
  root_.write("dev/sda", boot_sector("fat32.bin") + std::string(4096, '\0'));
  disk("sdb", "8:16", "1");
  root_.write("dev/sdb", std::string(4096, '\0'));
  disk("sdc", "8:32", "1");  // no device node to read
  disk("sdd", "8:48", "1");
  root_.write("dev/sdd", boot_sector("fat16.bin").substr(0, 300));  // shorter than a sector
  disk("sde", "8:64", "0");  // fixed: never read
  root_.write("dev/sde", boot_sector("fat16.bin"));
  EXPECT_EQ(found(), (std::vector<std::string>{dev("sda")}));
  // udev's record, once there, is trusted over the sector.
  udev("8:0", "ext4");
  udev("8:16", "vfat");
  EXPECT_EQ(found(), (std::vector<std::string>{dev("sdb")}));
}

// A drive nobody mounted is mounted by the tool only once the desktop had
// its second to do it, counted from the device's appearance.
TEST(LeftToTheDesktopTest, CountsFromTheEarlierOfAppearanceAndFirstSight) {
  const struct {
    const char* what;
    int64_t appeared, first_seen, now;
    bool mount_now;
  } cases[] = {
      {"plugged in long before the run", 1000, 50000, 50000, true},
      {"appeared just now", 49800, 50000, 50000, false},
      {"appeared 1 s ago", 49000, 49500, 50000, true},
      {"the clock was set back after it appeared", 90000, 49000, 50000, true},
      {"the clock was set back, first seen now", 90000, 50000, 50000, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(unmounted_for_ms(c.appeared, c.first_seen, c.now) >= kLeftToTheDesktopMs,
              c.mount_now)
        << c.what;
  }
}

}  // namespace
