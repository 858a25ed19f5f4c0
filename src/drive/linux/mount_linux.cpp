// Mounting a drive nobody mounted, for the one pass that looks at it: through
// UDisks2 when it runs, else with mount(2) when the tool runs as root. The
// drive is mounted read-only until its marker is found, so that a drive that
// is not the board's is left exactly as it was (a writable FAT mount can
// mark the volume dirty), and unmounted again when the pass is done with it.
// A drive that just appeared is left to the desktop's automounter first.
//
// The tool's own mount(2) mount is writable only once it is detached: it
// then lives as long as the root directory the tool holds open, so that not
// even a SIGKILL leaves a writable mount behind. The directory it was made
// on stays, empty, until the drive is released, and names it in the output.
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "drive/drives.h"
#include "drive/linux/mount_calls_linux.h"
#include "drive/linux/udisks_linux.h"
#include "drive/linux/unmounted_linux.h"

namespace {

// mount(2) mounts on a directory of the tool's own under /run, which only
// root can write and which is not kept across a reboot.
constexpr char kMountPointTemplate[] = "/run/flashdrop.XXXXXX";
// No "flush" or "sync": the copy flushes every piece itself.
constexpr char kVfatOptions[] = "shortname=mixed,utf8";
constexpr unsigned long kMountFlags = MS_NOSUID | MS_NODEV | MS_NOEXEC;

std::string errno_text() { return strerror(errno); }

// A drive is not mounted again in every pass only to fail the same way: its
// message is printed in the first pass alone.
bool first_report(const std::string& device) {
  static std::set<std::string> reported;
  return reported.insert(device).second;
}

bool refuse(const Drive& drive, const std::string& line, std::string* message) {
  if (first_report(drive.device)) *message = line;
  return false;
}

// The first busy pass is most likely an automounter mounting the drive at
// the same moment: its mount shows in the next pass. A drive still busy then
// is mounted where the tool cannot see it (another mount namespace), and
// stays so: that is said once.
bool busy(const Drive& drive, std::string* message) {
  static std::map<std::string, unsigned> busy_passes;
  if (++busy_passes[drive.device] != 2) return false;
  return refuse(drive,
                drive.device +
                    " is busy: mounted elsewhere? (in another mount namespace: a container's "
                    "host, a service with private mounts); it is passed over",
                message);
}

// How long the drive has stood unmounted: since its device node appeared
// (devtmpfs makes it as the kernel adds the device; udev sets its owner and
// mode at once), or since the tool first saw it.
int64_t unmounted_ms(const Drive& drive) {
  static std::map<std::string, int64_t> first_seen;
  const int64_t now = sys_now_ms();
  const int64_t seen = first_seen.emplace(drive.device, now).first->second;
  int64_t appeared;
  if (!sys_node_changed_ms(drive.device, &appeared)) appeared = seen;
  return unmounted_for_ms(appeared, seen, now);
}

// Ctrl-C (or a kill) while the tool holds its own mounts must not leave them
// and their directories behind. umount2 and rmdir are async-signal-safe.
// A signal the caller ignores (nohup, a background job) stays ignored.
constexpr int kFatalSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,
                                 SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM};
constexpr size_t kSignalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];
// A pass may hold one mount per drive it looks at.
constexpr size_t kMostHeld = 16;
char g_held_mounts[kMostHeld][sizeof kMountPointTemplate];
size_t g_held = 0;  // mounts held; the handlers are installed while it is not 0
struct sigaction g_saved[kSignalCount];

void release_held_mounts_and_die(int signal_number) {
  for (size_t i = 0; i < kMostHeld; ++i) {
    if (g_held_mounts[i][0] == '\0') continue;
    umount2(g_held_mounts[i], MNT_DETACH);
    rmdir(g_held_mounts[i]);
  }
  ::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void install_release_handlers() {
  struct sigaction release = {};
  release.sa_handler = release_held_mounts_and_die;
  for (size_t i = 0; i < kSignalCount; ++i) {
    sigaction(kFatalSignals[i], nullptr, &g_saved[i]);
    if (g_saved[i].sa_handler != SIG_IGN) sigaction(kFatalSignals[i], &release, nullptr);
  }
}

// Takes a slot for the directory `dir`; false when every slot is taken.
bool hold_mount(const char* dir) {
  for (size_t i = 0; i < kMostHeld; ++i) {
    if (g_held_mounts[i][0] != '\0') continue;
    if (g_held++ == 0) install_release_handlers();
    memcpy(g_held_mounts[i], dir, sizeof g_held_mounts[i]);
    return true;
  }
  return false;
}

void let_go_of_mount(const std::string& dir) {
  for (size_t i = 0; i < kMostHeld; ++i) {
    if (g_held_mounts[i][0] == '\0' || dir != g_held_mounts[i]) continue;
    g_held_mounts[i][0] = '\0';
    if (--g_held > 0) return;
    for (size_t k = 0; k < kSignalCount; ++k) sigaction(kFatalSignals[k], &g_saved[k], nullptr);
    return;
  }
}

bool mount_privately(Drive* drive, std::string* message) {
  char dir[sizeof kMountPointTemplate];
  memcpy(dir, kMountPointTemplate, sizeof dir);
  if (sys_mkdtemp(dir) == nullptr) {
    return refuse(*drive, "Cannot mount " + drive->device + ": cannot create " +
                              kMountPointTemplate + ": " + errno_text(), message);
  }
  if (!hold_mount(dir)) {
    sys_rmdir(dir);
    return refuse(*drive, "Cannot mount " + drive->device + ": too many drives at once",
                  message);
  }
  if (sys_mount(drive->device.c_str(), dir, "vfat", kMountFlags | MS_RDONLY, kVfatOptions) != 0) {
    const int error = errno;
    const std::string why = errno_text();
    sys_rmdir(dir);
    let_go_of_mount(dir);
    if (error == EBUSY) return busy(*drive, message);
    return refuse(*drive, "Cannot mount " + drive->device + ": " + why, message);
  }
  drive->root = dir;
  drive->mounted = Mounted::kByTool;
  return true;
}

// Once the board restarted its device node is gone; a plain unmount would
// try to write to it. A mount already detached (made writable) is gone with
// the root directory's handle: then umount2 finds nothing at the path.
void unmount_privately(const Drive& drive) {
  const int flags = sys_is_block_device(drive.device) ? 0 : MNT_DETACH;
  if (sys_umount2(drive.root.c_str(), flags) != 0 && flags == 0) {
    sys_umount2(drive.root.c_str(), MNT_DETACH);
  }
  sys_rmdir(drive.root.c_str());
  let_go_of_mount(drive.root);
}

// The root handle find_marker kept would hold the read-only mount busy: it
// is let go first. The writable mount's root is then opened when needed,
// and each time checked to be the listed device.
bool remount_through_udisks(Drive* drive, std::string* why) {
  if (drive->root_handle >= 0) close(static_cast<int>(drive->root_handle));
  drive->root_handle = -1;
  if (!udisks_unmount(drive->device)) {
    *why = "cannot mount " + drive->device + " writable: UDisks2 did not unmount it";
    return false;
  }
  drive->mounted = Mounted::kNot;
  std::string mount_point, error;
  if (udisks_mount(drive->device, false, &mount_point, &error) != UdisksOutcome::kDone) {
    *why = "cannot mount " + drive->device + " writable: " + error;
    return false;
  }
  drive->root = mount_point;
  drive->mounted = Mounted::kByUdisks;
  return true;
}

}  // namespace

bool attach_drive(Drive* drive, std::string* message) {
  if (drive->mounted != Mounted::kNot) return true;
  const int64_t unmounted = unmounted_ms(*drive);
  if (unmounted < kLeftToTheDesktopMs) {  // looked at again once the desktop had its time
    drive->attach_in_ms = static_cast<uint64_t>(kLeftToTheDesktopMs - unmounted);
    return false;
  }
  std::string mount_point, error;
  switch (udisks_mount(drive->device, true, &mount_point, &error)) {
    case UdisksOutcome::kDone:
      drive->root = mount_point;
      drive->mounted = Mounted::kByUdisks;
      return true;
    case UdisksOutcome::kRefused:
      return refuse(*drive,
                    "Not allowed to mount " + drive->device + " through UDisks2 (" + error +
                        "): allow org.freedesktop.udisks2.filesystem-mount with a polkit rule, "
                        "or run flashdrop as root",
                    message);
    case UdisksOutcome::kBusy:
      return busy(*drive, message);
    case UdisksOutcome::kFailed:
      return refuse(*drive, "Cannot mount " + drive->device + ": " + error, message);
    case UdisksOutcome::kUnavailable:
      break;
  }
  if (sys_running_as_root()) return mount_privately(drive, message);
  return refuse(*drive,
                drive->device +
                    " is a removable FAT drive that nobody mounted: mount it, run flashdrop as "
                    "root, or run UDisks2 so that flashdrop can mount it",
                message);
}

bool make_drive_writable(Drive* drive, std::string* why) {
  if (drive->mounted == Mounted::kByUdisks) return remount_through_udisks(drive, why);
  if (drive->mounted != Mounted::kByTool) return true;
  // Without MS_RDONLY, MS_REMOUNT makes the mount writable in place.
  if (sys_mount(drive->device.c_str(), drive->root.c_str(), "vfat", MS_REMOUNT | kMountFlags,
                kVfatOptions) != 0) {
    *why = "cannot mount " + drive->device + " writable: " + errno_text();
    return false;
  }
  // From here on the writable mount is reached through the root handle only.
  if (drive->root_handle >= 0) sys_umount2(drive->root.c_str(), MNT_DETACH);
  return true;
}

void release_drive(Drive* drive) {
  if (drive->root_handle >= 0) close(static_cast<int>(drive->root_handle));
  drive->root_handle = -1;
  const Mounted mounted = drive->mounted;
  if (mounted != Mounted::kByUdisks && mounted != Mounted::kByTool) return;
  drive->mounted = Mounted::kNot;
  if (mounted == Mounted::kByTool) {
    unmount_privately(*drive);
  } else {
    udisks_unmount(drive->device);  // gone with the board: UDisks2 cleans up itself
  }
}
