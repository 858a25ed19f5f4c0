// Mounting the drives nobody mounted, against a fake of mount(2) and UDisks2:
// read-only until the marker is found, writable only when asked, and
// everything it made undone on release. The messages are said once per drive.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "drive/drives.h"
#include "fakes/fake_mount_calls.h"

namespace {

using Calls = std::vector<std::string>;

Drive unmounted(const std::string& device) {
  Drive drive;
  drive.device = device;
  drive.mounted = Mounted::kNot;
  return drive;
}

TEST(MountLinux, ThroughUdisksReadOnlyThenWritableThenUnmounted) {
  fake_mount::Script script;
  script.udisks_read_only = UdisksOutcome::kDone;
  fake_mount::reset(script);
  Drive drive = unmounted("/dev/sdu1");
  std::string message;
  ASSERT_TRUE(attach_drive(&drive, &message));
  EXPECT_EQ(drive.root, "/media/u/BOOT");
  EXPECT_EQ(drive.mounted, Mounted::kByUdisks);
  std::string why;
  ASSERT_TRUE(make_drive_writable(&drive, &why)) << why;
  EXPECT_EQ(drive.root, "/media/u/BOOT1");
  release_drive(&drive);
  EXPECT_EQ(fake_mount::calls(), (Calls{"udisks mount /dev/sdu1 ro", "udisks unmount /dev/sdu1",
                                        "udisks mount /dev/sdu1 rw", "udisks unmount /dev/sdu1"}));
  EXPECT_EQ(drive.mounted, Mounted::kNot);
}

// As root without UDisks2: mount(2) read-only on a directory of the tool's
// own; made writable in place, then detached so that only the open root
// reaches it; released with the directory removed.
TEST(MountLinux, WithMountTheWritableMountLivesOnlyThroughTheRootHandle) {
  for (const bool board_left : {false, true}) {
    SCOPED_TRACE(board_left ? "the board left" : "the board is still there");
    fake_mount::Script script;
    script.device_present = !board_left;
    fake_mount::reset(script);
    Drive drive = unmounted(board_left ? "/dev/sdm1" : "/dev/sdm2");
    std::string message, why;
    ASSERT_TRUE(attach_drive(&drive, &message));
    const std::string dir = "/run/flashdrop.000001";
    EXPECT_EQ(drive.root, dir);
    drive.root_handle = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);  // as find_marker does
    ASSERT_TRUE(make_drive_writable(&drive, &why)) << why;
    release_drive(&drive);
    EXPECT_EQ(drive.root_handle, -1);
    EXPECT_EQ(fake_mount::calls(),
              (Calls{"udisks mount " + drive.device + " ro",
                     "mount " + drive.device + " " + dir + " ro",
                     "remount " + drive.device + " " + dir + " rw", "umount2 " + dir + " detach",
                     "umount2 " + dir + (board_left ? " detach" : " 0"), "rmdir " + dir}));
  }
}

// Each failure is one line, said in the first pass only; a busy device is
// most likely an automounter at work, and is said from the second pass.
TEST(MountLinux, FailuresToAttachAreSaidOnceAndLeaveNothingBehind) {
  const struct {
    const char* device;
    fake_mount::Script script;
    std::string first, second, third;
    Calls calls;  // of the first pass
  } cases[] = {
      {"/dev/sda1",
       {UdisksOutcome::kRefused, UdisksOutcome::kDone, "Not authorized", true, false},
       "Not allowed to mount /dev/sda1 through UDisks2 (Not authorized): allow "
       "org.freedesktop.udisks2.filesystem-mount with a polkit rule, or run flashdrop as root",
       "", "", {"udisks mount /dev/sda1 ro"}},
      {"/dev/sdb1",
       {UdisksOutcome::kUnavailable, UdisksOutcome::kDone, "", true, false},
       "/dev/sdb1 is a removable FAT drive that nobody mounted: mount it, run flashdrop as "
       "root, or run UDisks2 so that flashdrop can mount it",
       "", "", {"udisks mount /dev/sdb1 ro"}},
      {"/dev/sdc1",
       {UdisksOutcome::kUnavailable, UdisksOutcome::kDone, "", true, true, EIO},
       "Cannot mount /dev/sdc1: Input/output error", "", "",
       {"udisks mount /dev/sdc1 ro", "mount /dev/sdc1 /run/flashdrop.000001 ro",
        "rmdir /run/flashdrop.000001"}},
      {"/dev/sdd1",
       {UdisksOutcome::kUnavailable, UdisksOutcome::kDone, "", true, true, EBUSY}, "",
       "/dev/sdd1 is busy: mounted elsewhere? (in another mount namespace: a container's host, "
       "a service with private mounts); it is passed over",
       "", {"udisks mount /dev/sdd1 ro", "mount /dev/sdd1 /run/flashdrop.000001 ro",
            "rmdir /run/flashdrop.000001"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device);
    fake_mount::reset(c.script);
    std::vector<std::string> said;
    for (int pass = 0; pass < 3; ++pass) {
      Drive drive = unmounted(c.device);
      std::string message;
      EXPECT_FALSE(attach_drive(&drive, &message));
      EXPECT_EQ(drive.mounted, Mounted::kNot);
      said.push_back(message);
      if (pass == 0) {
        EXPECT_EQ(fake_mount::calls(), c.calls);
      }
    }
    EXPECT_EQ(said, (std::vector<std::string>{c.first, c.second, c.third}));
  }
}

TEST(MountLinux, MountedDrivesAndNewOnesAreLeftAlone) {
  fake_mount::Script script;
  script.device_age_ms = 300;  // the desktop's automounter gets its second first
  fake_mount::reset(script);
  Drive fresh = unmounted("/dev/sdn1");
  Drive mounted;
  mounted.root = "/media/u/STICK";
  std::string message, why;
  EXPECT_FALSE(attach_drive(&fresh, &message));
  EXPECT_EQ(message, "");
  EXPECT_EQ(fresh.attach_in_ms, 700u);  // when the pass that may mount it is due
  EXPECT_TRUE(attach_drive(&mounted, &message));
  EXPECT_TRUE(make_drive_writable(&mounted, &why));
  release_drive(&mounted);
  EXPECT_EQ(fake_mount::calls(), Calls{});
}

TEST(MountLinux, AFailureToMakeWritableGivesTheReason) {
  fake_mount::Script script;
  script.udisks_read_only = UdisksOutcome::kDone;
  script.udisks_writable = UdisksOutcome::kFailed;
  script.udisks_error = "Read-only medium";
  fake_mount::reset(script);
  Drive drive = unmounted("/dev/sdw1");
  std::string message, why;
  ASSERT_TRUE(attach_drive(&drive, &message));
  EXPECT_FALSE(make_drive_writable(&drive, &why));
  EXPECT_EQ(why, "cannot mount /dev/sdw1 writable: Read-only medium");

  script = fake_mount::Script();
  script.remount_errno = EROFS;
  fake_mount::reset(script);
  drive = unmounted("/dev/sdw2");
  ASSERT_TRUE(attach_drive(&drive, &message));
  EXPECT_FALSE(make_drive_writable(&drive, &why));
  EXPECT_EQ(why, "cannot mount /dev/sdw2 writable: Read-only file system");
  release_drive(&drive);
  EXPECT_EQ(fake_mount::calls().back(), "rmdir /run/flashdrop.000001");
}

}  // namespace
