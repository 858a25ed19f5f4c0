#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "drive/drives.h"
#include "drive/drives_linux.h"
#include "drive/mountinfo.h"
#include "temp_dir.h"

#ifndef FLASHDROP_FIXTURES
#define FLASHDROP_FIXTURES "tests/fixtures"
#endif

namespace {

std::string fixture(const std::string& name) {
  std::ifstream in(std::string(FLASHDROP_FIXTURES) + "/" + name);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(MountInfoTest, ParsesDevicesRootsAndUnescapedMountPoints) {
  const std::vector<MountEntry> table = parse_mountinfo(fixture("mountinfo-desktop.txt"));
  ASSERT_EQ(table.size(), 12u);  // the malformed line is skipped
  EXPECT_EQ(table[0].mount_point, "/");
  EXPECT_EQ(table[0].major, 259u);
  EXPECT_EQ(table[0].minor, 2u);
  EXPECT_EQ(table[6].mount_point, "/media/user/BOOT");
  EXPECT_EQ(table[8].root, "/firmware");
  EXPECT_EQ(table[9].mount_point, "/media/user/MY BOOT\\DRIVE");
  EXPECT_EQ(table[11].major, 179u);
}

TEST(MountInfoTest, UnescapesOnlyCompleteOctalEscapes) {
  EXPECT_EQ(unescape_mount_field("a\\040b\\011c\\012d\\134e"), "a b\tc\nd\\e");
  EXPECT_EQ(unescape_mount_field("tail\\04"), "tail\\04");
  EXPECT_EQ(unescape_mount_field("not\\x41"), "not\\x41");
  EXPECT_EQ(unescape_mount_field("\\"), "\\");
}

TEST(MountInfoTest, ToleratesTruncatedAndEmptyInput) {
  EXPECT_TRUE(parse_mountinfo("").empty());
  EXPECT_TRUE(parse_mountinfo("\n\n").empty());
  EXPECT_TRUE(parse_mountinfo("1 2 8:1 /").empty());
  EXPECT_TRUE(parse_mountinfo("1 2 8: / /x").empty());
  EXPECT_TRUE(parse_mountinfo("1 2 :1 / /x").empty());
  EXPECT_EQ(parse_mountinfo("1 2 8:1 / /x").size(), 1u);  // no trailing newline
}

// A sysfs tree as the kernel lays it out: /sys/dev/block/MAJ:MIN links into
// the device directories, partitions nested inside their disk.
class SysfsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    disk("block/sda", "8:0", "1");
    partition("block/sda/sda1", "8:1");
    disk("block/sdb", "8:16", "1");
    disk("block/sdc", "8:32", "0");
    partition("block/sdc/sdc1", "8:33");
    disk("block/nvme0n1", "259:0", "0");
    partition("block/nvme0n1/nvme0n1p1", "259:1");
    partition("block/nvme0n1/nvme0n1p2", "259:2");
    disk("block/mmcblk0", "179:0", "0");
    partition("block/mmcblk0/mmcblk0p1", "179:1");
  }

  void disk(const std::string& dir, const std::string& dev, const std::string& removable) {
    sys_.write(dir + "/removable", removable + "\n");
    sys_.symlink("../../" + dir, "dev/block/" + dev);
  }
  void partition(const std::string& dir, const std::string& dev) {
    sys_.write(dir + "/partition", "1\n");
    sys_.symlink("../../" + dir, "dev/block/" + dev);
  }

  TempDir sys_;
};

TEST_F(SysfsFixture, RemovableIsReadFromTheDiskOfAPartition) {
  EXPECT_TRUE(is_removable_block_device(sys_.path(), 8, 0));
  EXPECT_TRUE(is_removable_block_device(sys_.path(), 8, 1));
  EXPECT_TRUE(is_removable_block_device(sys_.path(), 8, 16));
  EXPECT_FALSE(is_removable_block_device(sys_.path(), 8, 33));
  EXPECT_FALSE(is_removable_block_device(sys_.path(), 259, 2));
  EXPECT_FALSE(is_removable_block_device(sys_.path(), 0, 25));  // tmpfs
  EXPECT_FALSE(is_removable_block_device(sys_.path(), 7, 3));   // not in the tree
}

TEST_F(SysfsFixture, RemovableMountPointsKeepTableOrderAndListEachDeviceOnce) {
  const std::vector<std::string> points =
      removable_mount_points(parse_mountinfo(fixture("mountinfo-desktop.txt")), sys_.path());
  EXPECT_EQ(points, (std::vector<std::string>{"/media/user/BOOT", "/media/user/MY BOOT\\DRIVE"}));
}

TEST_F(SysfsFixture, SubdirectoryMountDoesNotStandForTheDrive) {
  const std::vector<MountEntry> table = parse_mountinfo(
      "421 22 8:1 /firmware /mnt/sub rw - vfat /dev/sda1 rw\n"
      "412 28 8:1 / /media/user/BOOT rw - vfat /dev/sda1 rw\n");
  EXPECT_EQ(removable_mount_points(table, sys_.path()),
            (std::vector<std::string>{"/media/user/BOOT"}));
}

TEST(FindMarkerTest, IgnoresLetterCaseAndReportsTheNameAsStored) {
  TempDir drive;
  drive.write("info_uf2.txt", "UF2 Bootloader v1.0\n");
  drive.write("CURRENT.UF2", "x");
  MarkerFile found;
  ASSERT_TRUE(find_marker(drive.path(), "INFO_UF2.TXT", &found));
  EXPECT_EQ(found.name, "info_uf2.txt");
  EXPECT_EQ(found.size, 20);
  EXPECT_FALSE(find_marker(drive.path(), "0000002A.ID", &found));
  EXPECT_FALSE(find_marker(drive / "missing", "INFO_UF2.TXT", &found));
}

TEST(FindMarkerTest, LooksInTheRootOnlyAndAcceptsADirectoryOfThatName) {
  TempDir drive;
  drive.write("sub/INFO_UF2.TXT", "nested");
  MarkerFile found;
  EXPECT_FALSE(find_marker(drive.path(), "INFO_UF2.TXT", &found));
  drive.mkdir("0000002A.ID");
  EXPECT_TRUE(find_marker(drive.path(), "0000002a.id", &found));
  EXPECT_EQ(found.name, "0000002A.ID");
}

std::string pattern_bytes(size_t size) {
  std::string data(size, '\0');
  uint32_t state = 12345;
  for (char& c : data) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return data;
}

TEST(CopyToDriveTest, CopiesByteForByteUnderTheBaseName) {
  TempDir work;
  const std::string data = pattern_bytes(300 * 1024 + 7);
  work.write("build/fw 1.uf2", data);
  work.mkdir("drive");
  std::string why;
  ASSERT_TRUE(copy_to_drive(work / "build/fw 1.uf2", work / "drive", &why)) << why;
  EXPECT_EQ(work.read("drive/fw 1.uf2"), data);
  // An existing file of that name is replaced, not appended to.
  work.write("build/fw 1.uf2", "short");
  ASSERT_TRUE(copy_to_drive(work / "build/fw 1.uf2", work / "drive/", &why)) << why;
  EXPECT_EQ(work.read("drive/fw 1.uf2"), "short");
}

TEST(CopyToDriveTest, MissingSourceFailsWithItsReason) {
  TempDir work;
  work.mkdir("drive");
  std::string why;
  EXPECT_FALSE(copy_to_drive(work / "absent.uf2", work / "drive", &why));
  EXPECT_EQ(why, "cannot open " + (work / "absent.uf2") + ": No such file or directory");
  EXPECT_FALSE(work.exists("drive/absent.uf2"));
}

TEST(CopyToDriveTest, DestinationThatCannotBeCreatedFails) {
  TempDir work;
  work.write("fw.uf2", "data");
  std::string why;
  EXPECT_FALSE(copy_to_drive(work / "fw.uf2", work / "vanished", &why));
  EXPECT_EQ(why.rfind("cannot create " + (work / "vanished/fw.uf2"), 0), 0u) << why;
}

TEST(CopyToDriveTest, WriteErrorMidwayFailsAndLeavesNoPartialFile) {
  TempDir work;
  work.write("fw.uf2", pattern_bytes(256 * 1024));
  work.mkdir("drive");
  // A file size limit makes the drive "full" after 64 KiB.
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit small = saved;
  small.rlim_cur = 64 * 1024;
  void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  std::string why;
  const bool copied = copy_to_drive(work / "fw.uf2", work / "drive", &why);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(copied);
  EXPECT_EQ(why, "cannot write " + (work / "drive/fw.uf2") + ": File too large");
  EXPECT_FALSE(work.exists("drive/fw.uf2"));
}

TEST(CopyToDriveTest, FileAlreadyOnTheDriveIsNotTruncated) {
  TempDir work;
  work.write("drive/fw.uf2", "firmware");
  std::string why;
  EXPECT_FALSE(copy_to_drive(work / "drive/fw.uf2", work / "drive", &why));
  EXPECT_EQ(work.read("drive/fw.uf2"), "firmware");
}

}  // namespace
