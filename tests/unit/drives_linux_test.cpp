#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "copy_jobs.h"
#include "drive/drives.h"
#include "drive/linux/block_linux.h"
#include "drive/linux/drives_linux.h"
#include "drive/mountinfo.h"
#include "platform/sysfs_usb_linux.h"
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
    disk("block/sr0", "11:0", "1");  // an optical drive: removable media, SCSI type 5
    sys_.write("block/sr0/device/type", "5\n");
    sys_.write("block/sda/device/type", "0\n");
  }

  void disk(const std::string& dir, const std::string& dev, const std::string& removable) {
    sys_.write(dir + "/removable", removable + "\n");
    sys_.symlink("../../" + dir, "dev/block/" + dev);
  }
  void partition(const std::string& dir, const std::string& dev) {
    sys_.write(dir + "/partition", "1\n");
    sys_.symlink("../../" + dir, "dev/block/" + dev);
  }

  LinuxRoots roots() const {
    LinuxRoots roots;
    roots.sys = sys_.path();
    return roots;
  }

  TempDir sys_;
};

TEST_F(SysfsFixture, RemovableIsReadFromTheDiskOfAPartition) {
  EXPECT_TRUE(is_removable_block_device(roots(), 8, 0));
  EXPECT_TRUE(is_removable_block_device(roots(), 8, 1));
  EXPECT_TRUE(is_removable_block_device(roots(), 8, 16));
  EXPECT_FALSE(is_removable_block_device(roots(), 8, 33));
  EXPECT_FALSE(is_removable_block_device(roots(), 259, 2));
  EXPECT_FALSE(is_removable_block_device(roots(), 0, 25));  // tmpfs
  EXPECT_FALSE(is_removable_block_device(roots(), 7, 3));   // not in the tree
  EXPECT_FALSE(is_removable_block_device(roots(), 11, 0));  // optical
}

std::vector<std::string> mount_points(const std::vector<MountEntry>& entries) {
  std::vector<std::string> points;
  for (const MountEntry& entry : entries) points.push_back(entry.mount_point);
  return points;
}

TEST_F(SysfsFixture, RemovableMountPointsKeepTableOrderAndListEachDeviceOnce) {
  const std::vector<MountEntry> points =
      removable_mount_points(parse_mountinfo(fixture("mountinfo-desktop.txt")), roots());
  EXPECT_EQ(mount_points(points),
            (std::vector<std::string>{"/media/user/BOOT", "/media/user/MY BOOT\\DRIVE"}));
  EXPECT_EQ(points[0].major, 8u);  // the device the drive is checked against
  EXPECT_EQ(points[0].minor, 1u);
}

TEST_F(SysfsFixture, SubdirectoryMountDoesNotStandForTheDrive) {
  const std::vector<MountEntry> table = parse_mountinfo(
      "421 22 8:1 /firmware /mnt/sub rw - vfat /dev/sda1 rw\n"
      "412 28 8:1 / /media/user/BOOT rw - vfat /dev/sda1 rw\n");
  EXPECT_EQ(mount_points(removable_mount_points(table, roots())),
            (std::vector<std::string>{"/media/user/BOOT"}));
}

// The kernel writes the flag as "%d\n" of 0 or 1; anything else is not it.
TEST(RemovableRule, TheFlagReadsOneAndTheDiskIsNotOptical) {
  const struct {
    const char *removable, *type, *name;
    bool removable_drive;
  } cases[] = {
      {"1", "0", "sda", true},    {"1", "", "mmcblk0", true},  {"0", "0", "sda", false},
      {"10", "0", "sda", false},  {"", "0", "sda", false},     {"1", "5", "sdb", false},
      {"1", "4", "sr1", false},  // a WORM drive on the CD driver
  };
  for (const auto& c : cases) {
    EXPECT_EQ(removable_disk_rule(c.removable, c.type, c.name), c.removable_drive)
        << c.removable << " " << c.type << " " << c.name;
  }
}

// The listing reads the roots it is given: a captured mount table and sysfs.
TEST_F(SysfsFixture, ListingGivesEachDriveWithItsIdentity) {
  sys_.write("block/sda/diskseq", "42\n");
  TempDir proc;
  proc.write("self/mountinfo",
             "22 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n"
             "412 28 8:1 / /media/user/BOOT rw - vfat /dev/sda1 rw\n");
  LinuxRoots at = roots();
  at.proc = proc.path();
  std::vector<Drive> drives;
  ASSERT_TRUE(list_drives_at(at, &drives));
  ASSERT_EQ(drives.size(), 1u);
  EXPECT_EQ(drives[0].root, "/media/user/BOOT");
  EXPECT_EQ(drives[0].mounted, Mounted::kBySystem);
  EXPECT_TRUE(drives[0].identity.known);
  EXPECT_EQ(drives[0].identity.id, makedev(8, 1));
  EXPECT_EQ(drives[0].identity.generation, 42u);
  at.proc = proc / "absent";
  EXPECT_FALSE(list_drives_at(at, &drives));
}

// A folder as the listing gives a drive mounted there: its device number.
Drive listed(const std::string& root) {
  Drive drive;
  drive.root = root;
  struct stat st;
  if (stat(root.c_str(), &st) == 0) drive.identity.id = st.st_dev;
  return drive;
}

bool find_marker_at(const std::string& root, const std::string& marker, MarkerFile* found) {
  Drive drive = listed(root);
  const bool there = find_marker(&drive, marker, found);
  if (drive.root_handle >= 0) close(static_cast<int>(drive.root_handle));
  return there;
}

TEST(FindMarkerTest, IgnoresLetterCaseAndReportsTheNameAsStored) {
  TempDir drive;
  drive.write("info_uf2.txt", "UF2 Bootloader v1.0\n");
  drive.write("CURRENT.UF2", "x");
  MarkerFile found;
  ASSERT_TRUE(find_marker_at(drive.path(), "INFO_UF2.TXT", &found));
  EXPECT_EQ(found.name, "info_uf2.txt");
  EXPECT_EQ(found.size, 20);
  EXPECT_FALSE(find_marker_at(drive.path(), "0000002A.ID", &found));
  EXPECT_FALSE(find_marker_at(drive / "missing", "INFO_UF2.TXT", &found));
}

TEST(FindMarkerTest, LooksInTheRootOnlyAndAcceptsADirectoryOfThatName) {
  TempDir drive;
  drive.write("sub/INFO_UF2.TXT", "nested");
  MarkerFile found;
  EXPECT_FALSE(find_marker_at(drive.path(), "INFO_UF2.TXT", &found));
  drive.mkdir("0000002A.ID");
  EXPECT_TRUE(find_marker_at(drive.path(), "0000002a.id", &found));
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

// Opens `source` as the tool does before anything runs and copies it onto
// the drive folder.
CopyResult copy(const std::string& source, const std::string& drive,
                const std::vector<uint8_t>& loaded = {}, const std::vector<uint64_t>& ends = {}) {
  SourceFile file;
  SourceRefusal refusal;
  if (!open_source(source.c_str(), &file, &refusal)) {
    CopyResult refused;
    refused.error = refusal.reason;
    return refused;
  }
  CopyResult result = copy_to_drive(job_of(file, &loaded, ends), listed(drive));
  close_source(&file);
  return result;
}

TEST(CopyToDriveTest, CopiesByteForByteUnderTheBaseNameAndKnowsWhatWasAcknowledged) {
  TempDir work;
  const std::string data = pattern_bytes(5 * 1024 * 1024 + 7);
  work.write("build/fw 1.uf2", data);
  work.mkdir("drive");
  CopyResult result = copy(work / "build/fw 1.uf2", work / "drive");
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(work.read("drive/fw 1.uf2"), data);
  EXPECT_TRUE(result.acknowledged_known);
  EXPECT_EQ(result.acknowledged, data.size());
  // An existing file of that name is replaced, not appended to; bytes read
  // before are the bytes written.
  work.write("build/fw 1.uf2", "short");
  const std::vector<uint8_t> loaded = {'s', 'h', 'o', 'r', 't'};
  result = copy(work / "build/fw 1.uf2", work / "drive/", loaded, {2});
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(work.read("drive/fw 1.uf2"), "short");
}

TEST(CopyToDriveTest, SourcesThatAreNotRegularFilesAreRefusedBeforeAnything) {
  TempDir work;
  work.mkdir("dir.uf2");
  ASSERT_EQ(mkfifo((work / "fifo.uf2").c_str(), 0600), 0);
  const struct {
    std::string path, why;
  } cases[] = {
      {work / "absent.uf2", "No such file or directory"},
      {work / "dir.uf2", "it is a folder"},
      {work / "fifo.uf2", "it is not a regular file"},  // and open does not block
      {"/dev/null", "it is not a regular file"},
  };
  for (const auto& c : cases) {
    SourceFile file;
    SourceRefusal refusal;
    EXPECT_FALSE(open_source(c.path.c_str(), &file, &refusal));
    EXPECT_EQ(refusal.reason, c.why) << c.path;
    EXPECT_TRUE(refusal.name_shown);
  }
}

TEST(CopyToDriveTest, DestinationsThatAreNotRegularFilesOnTheDriveAreLeftAlone) {
  TempDir work;
  work.write("fw.uf2", "firmware");
  work.write("outside/victim", "precious");
  work.mkdir("drive/fw.uf2.dir");
  ASSERT_EQ(symlink((work / "outside/victim").c_str(), (work / "drive/link.uf2").c_str()), 0);
  ASSERT_EQ(symlink((work / "outside/new").c_str(), (work / "drive/dangling.uf2").c_str()), 0);
  ASSERT_EQ(mkfifo((work / "drive/fifo.uf2").c_str(), 0600), 0);
  const char* names[] = {"link.uf2", "dangling.uf2", "fifo.uf2"};
  for (const char* name : names) {
    work.write(name, "firmware");
    const CopyResult result = copy(work / name, work / "drive");
    EXPECT_FALSE(result.ok) << name;
    EXPECT_EQ(result.error, (work / "drive/") + name + " is not a regular file on the drive");
  }
  EXPECT_EQ(work.read("outside/victim"), "precious");
  EXPECT_FALSE(work.exists("outside/new"));
  // A drive whose folder went away.
  work.write("fw.uf2", "firmware");
  EXPECT_EQ(copy(work / "fw.uf2", work / "vanished").error,
            "cannot open " + (work / "vanished") + ": No such file or directory");
  // The file named is itself the file on the drive: not truncated, and not
  // this run's to remove.
  work.write("drive/own.uf2", "firmware");
  const CopyResult result = copy(work / "drive/own.uf2", work / "drive");
  EXPECT_FALSE(result.ok);
  EXPECT_FALSE(result.destination_changed);
  EXPECT_TRUE(result.acknowledged_known);  // nothing reached the drive
  EXPECT_EQ(result.acknowledged, 0u);
  EXPECT_EQ(work.read("drive/own.uf2"), "firmware");
}

TEST(CopyToDriveTest, FullDriveEndsInAnErrorWithTheAcknowledgedPrefix) {
  TempDir work;
  work.write("fw.uf2", pattern_bytes(256 * 1024));
  work.mkdir("drive");
  // A file size limit makes the drive "full" after 64 KiB; the tool itself
  // must not die of SIGXFSZ.
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit small = saved;
  small.rlim_cur = 64 * 1024;
  setrlimit(RLIMIT_FSIZE, &small);
  const CopyResult result = copy(work / "fw.uf2", work / "drive", {}, {32 * 1024, 200 * 1024});
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.destination_changed);
  EXPECT_EQ(result.error, "cannot write " + (work / "drive/fw.uf2") + ": File too large");
  EXPECT_EQ(result.acknowledged, 32u * 1024);  // the first piece ended where asked
  // The portable search decides whether to remove it; discard_copy does.
  SourceFile file;
  file.name = work / "fw.uf2";
  discard_copy(job_of(file), listed(work / "drive"));
  EXPECT_FALSE(work.exists("drive/fw.uf2"));
}

TEST(CopyToDriveTest, SourceThatChangesDuringTheCopyFails) {
  TempDir work;
  work.write("fw.bin", pattern_bytes(1000));
  work.mkdir("drive");
  for (const size_t new_size : {500, 2000}) {
    SourceFile file;
    SourceRefusal refusal;
    ASSERT_TRUE(open_source((work / "fw.bin").c_str(), &file, &refusal)) << refusal.reason;
    work.write("fw.bin", pattern_bytes(new_size));  // rewritten in place after the check
    const CopyResult result = copy_to_drive(job_of(file), listed(work / "drive"));
    close_source(&file);
    EXPECT_FALSE(result.ok) << new_size;
    EXPECT_EQ(result.error, "the file changed during the copy") << new_size;
  }
}

// What happens at the mount point after the marker was found does not
// matter: the copy goes to the root that was opened, and only a root on the
// listed device is opened at all.
TEST(CopyToDriveTest, CopyGoesToTheDriveWhoseMarkerWasFound) {
  TempDir work;
  work.write("fw.uf2", "firmware");
  work.write("drive/INFO_UF2.TXT", "UF2 Bootloader\n");
  Drive drive = listed(work / "drive");
  MarkerFile found;
  Drive elsewhere = drive;
  elsewhere.identity.id ^= 1;  // another device stands there now
  EXPECT_FALSE(find_marker(&elsewhere, "INFO_UF2.TXT", &found));
  EXPECT_EQ(elsewhere.root_handle, -1);
  ASSERT_TRUE(find_marker(&drive, "INFO_UF2.TXT", &found));
  ASSERT_EQ(rename((work / "drive").c_str(), (work / "found").c_str()), 0);
  work.write("drive/INFO_UF2.TXT", "a swapped-in folder");
  SourceFile file;
  SourceRefusal refusal;
  ASSERT_TRUE(open_source((work / "fw.uf2").c_str(), &file, &refusal)) << refusal.reason;
  const CopyResult result = copy_to_drive(job_of(file), drive);
  close_source(&file);
  close(static_cast<int>(drive.root_handle));
  EXPECT_TRUE(result.ok) << result.error;
  EXPECT_EQ(work.read("found/fw.uf2"), "firmware");
  EXPECT_FALSE(work.exists("drive/fw.uf2"));
}

// The names of the files in `dir` that were opened since `watch` started.
std::vector<std::string> opened_names(int watch) {
  std::vector<std::string> names;
  alignas(struct inotify_event) char buffer[4096];
  ssize_t n;
  while ((n = read(watch, buffer, sizeof buffer)) > 0) {
    for (char* p = buffer; p < buffer + n;) {
      const struct inotify_event* event = reinterpret_cast<struct inotify_event*>(p);
      if (event->len > 0) names.push_back(event->name);
      p += sizeof *event + event->len;
    }
  }
  return names;
}

// A stick mounted without nodev may carry device nodes under the names the
// tool uses: their drivers' open must never run, nor may a FIFO's.
TEST(CopyToDriveTest, DeviceNodesAndFifosOnTheDriveAreNeverOpened) {
  TempDir work;
  work.write("fw.uf2", "firmware");
  work.write("fifo.uf2", "firmware");
  work.mkdir("drive");
  if (mknod((work / "drive/CURRENT.UF2").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
      mknod((work / "drive/fw.uf2").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
      mknod((work / "drive/INFO_UF2.TXT").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    GTEST_SKIP() << "making device nodes needs root";
  }
  ASSERT_EQ(mkfifo((work / "drive/fifo.uf2").c_str(), 0600), 0);
  const int fifo_reader = open((work / "drive/fifo.uf2").c_str(), O_RDONLY | O_NONBLOCK);
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(inotify_add_watch(watch, (work / "drive").c_str(), IN_OPEN), 0);
  Drive drive = listed(work / "drive");
  MarkerFile found;
  EXPECT_FALSE(find_marker(&drive, "INFO_UF2.TXT", &found));
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(read_drive_file(drive, "current.uf2", 512, &bytes));
  for (const char* name : {"fw.uf2", "fifo.uf2"}) {
    const CopyResult result = copy(work / name, work / "drive");
    EXPECT_EQ(result.error, (work / "drive/") + name + " is not a regular file on the drive");
    EXPECT_FALSE(result.destination_changed);
  }
  EXPECT_EQ(opened_names(watch), std::vector<std::string>{});
  close(watch);
  close(fifo_reader);
}

TEST(DriveIdentityTest, DriveIsThereWhileItsDeviceAndDiskSequenceAre) {
  TempDir sys;
  sys.write("devices/sdb/diskseq", "17\n");
  sys.mkdir("dev/block");
  ASSERT_EQ(symlink("../../devices/sdb", (sys / "dev/block/8:16").c_str()), 0);
  DriveIdentity identity;
  identity.id = makedev(8, 16);
  identity.generation = 17;
  identity.known = true;
  LinuxRoots roots;
  roots.sys = sys.path();
  EXPECT_TRUE(block_device_present(identity, roots));
  identity.generation = 18;  // a new disk that took the same number
  EXPECT_FALSE(block_device_present(identity, roots));
  identity.generation = 17;
  ASSERT_EQ(unlink((sys / "dev/block/8:16").c_str()), 0);
  EXPECT_FALSE(block_device_present(identity, roots));
}

// A captured sysfs: a board's drive on a dummy_hcd port (a partition of its
// disk), a HID interface behind a hub, and a SATA disk below no USB device.
class UsbPlaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string stick = "devices/platform/dummy_hcd.1/usb4/4-1";
    const std::string disk = stick + "/4-1:1.0/host3/target3:0:0/3:0:0:0/block/sdb";
    sys_.write(stick + "/serial", "BOOT0001\n");
    sys_.mkdir(disk + "/sdb1");
    sys_.symlink("../../" + disk + "/sdb1", "dev/block/8:17");
    sys_.symlink("../../" + disk, "dev/block/8:16");
    const std::string hid = "devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2.3/1-2.3:1.0/"
                            "0003:0D28:0204.0001/hidraw/hidraw0";
    sys_.mkdir(hid);
    sys_.symlink("../../" + hid, "dev/char/240:0");
    const std::string sata = "devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda";
    sys_.mkdir(sata);
    sys_.symlink("../../" + sata, "dev/block/8:0");
  }
  TempDir sys_;
};

TEST_F(UsbPlaceTest, ThePortIsTheUsbDeviceAboveTheNodeAndTheSerialIsItsOwn) {
  const struct {
    const char* what;
    const char* kind;
    unsigned major, minor;
    std::string port, serial;
  } cases[] = {
      {"a partition of a USB disk", "block", 8, 17, "4-1", "BOOT0001"},
      {"the disk itself", "block", 8, 16, "4-1", "BOOT0001"},
      {"a HID interface behind a hub, no serial", "char", 240, 0, "1-2.3", ""},
      {"a SATA disk", "block", 8, 0, "", ""},
      {"no such device", "block", 9, 9, "", ""},
  };
  for (const auto& c : cases) {
    const UsbPlace place = usb_place_in_sysfs(sys_.path(), c.kind, makedev(c.major, c.minor));
    EXPECT_EQ(place.port, c.port) << c.what;
    EXPECT_EQ(place.serial, c.serial) << c.what;
  }
  EXPECT_EQ(usb_port_in_device_path("/sys/devices/x/usb2/2-1/2-1.4/2-1.4:1.2/tty/ttyACM0"), "2-1.4");
}

// --drive names a drive by its mount point, or by a block device node of
// its partition or of the disk it lies on (where this test may make nodes).
TEST_F(UsbPlaceTest, DriveIsNamedByItsMountPointOrItsDeviceOrDisk) {
  LinuxRoots roots;
  roots.sys = sys_.path();
  Drive drive;
  drive.root = "/media/u/BOOT";
  drive.identity = {makedev(8, 17), 0, true};
  EXPECT_TRUE(drive_named_at(drive, "/media/u/BOOT", roots));
  EXPECT_TRUE(drive_named_at(drive, "/media/u/BOOT//", roots));
  EXPECT_FALSE(drive_named_at(drive, "/media/u/BOO", roots));
  EXPECT_FALSE(drive_named_at(drive, "/media/u/BOOT/sub", roots));
  TempDir nodes;
  const struct {
    const char* name;
    unsigned major, minor;
    bool named;
  } cases[] = {{"sdb1", 8, 17, true}, {"sdb", 8, 16, true}, {"sda", 8, 0, false}, {"tty", 5, 0, false}};
  for (const auto& c : cases) {
    const mode_t type = std::string(c.name) == "tty" ? S_IFCHR : S_IFBLK;
    if (mknod((nodes / c.name).c_str(), type | 0600, makedev(c.major, c.minor)) != 0) {
      GTEST_SKIP() << "cannot make device nodes here: " << strerror(errno);
    }
    EXPECT_EQ(drive_named_at(drive, nodes / c.name, roots), c.named) << c.name;
  }
}

}  // namespace
