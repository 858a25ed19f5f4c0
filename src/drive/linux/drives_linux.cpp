// The Linux drive layer's listing and identity, and the marker on a drive.
#include "drive/linux/drives_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <utility>

#include "drive/linux/drive_root_linux.h"
#include "drive/linux/unmounted_linux.h"
#include "platform/file_posix.h"
#include "platform/sysfs_usb_linux.h"

namespace {

// The system's own roots: the listing and the watch for the board leaving
// read the running system.
const LinuxRoots& system_roots() {
  static const LinuxRoots kRoots;
  return kRoots;
}

}  // namespace

std::vector<MountEntry> removable_mount_points(const std::vector<MountEntry>& table,
                                               const LinuxRoots& roots) {
  std::vector<MountEntry> points;
  const int block_dir = open_block_dir(roots);
  if (block_dir < 0) return points;
  std::set<std::pair<unsigned, unsigned>> seen;
  for (const MountEntry& entry : table) {
    if (entry.root != "/") continue;
    if (!seen.insert({entry.major, entry.minor}).second) continue;
    if (is_removable(block_dir, entry.major, entry.minor)) points.push_back(entry);
  }
  close(block_dir);
  return points;
}

bool list_drives_at(const LinuxRoots& roots, std::vector<Drive>* drives) {
  std::string text;
  if (!read_whole_file(roots.proc + "/self/mountinfo", &text)) return false;
  const std::vector<MountEntry> table = parse_mountinfo(text);
  drives->clear();
  for (const MountEntry& entry : removable_mount_points(table, roots)) {
    Drive drive;
    drive.root = entry.mount_point;
    drive.identity = drive_identity(makedev(entry.major, entry.minor), roots);
    drives->push_back(drive);
  }
  append_unmounted_drives(table, roots, drives);
  return true;
}

bool list_removable_drives(std::vector<Drive>* drives) {
  return list_drives_at(system_roots(), drives);
}

// The marker is looked at, never opened: a regular file or a folder.
bool find_marker(Drive* drive, const std::string& marker, MarkerFile* found) {
  std::string why, stored;
  const int root_fd = open_drive_root(*drive, &why);
  if (root_fd < 0) return false;
  struct stat st;
  if (!find_in_directory(root_fd, marker, &stored) ||
      fstatat(root_fd, stored.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) {
    close(root_fd);
    return false;
  }
  found->name = stored;
  found->size = static_cast<long>(st.st_size);
  if (drive->root_handle >= 0) close(static_cast<int>(drive->root_handle));
  drive->root_handle = root_fd;
  return true;
}

bool read_drive_file(const Drive& drive, const std::string& name, size_t size,
                     std::vector<uint8_t>* bytes) {
  std::string why, stored;
  const int root_fd = open_drive_root(drive, &why);
  if (root_fd < 0) return false;
  struct stat st;
  const int fd =
      find_in_directory(root_fd, name, &stored) ? open_regular(root_fd, stored, O_RDONLY, &st) : -1;
  close(root_fd);
  if (fd < 0) return false;
  bytes->resize(size);
  ssize_t n;
  do n = read(fd, bytes->data(), size); while (n < 0 && errno == EINTR);
  close(fd);
  if (n < 0) return false;
  bytes->resize(static_cast<size_t>(n));
  return true;
}

// The board has left when its block device is gone from sysfs: the mount may
// linger (detached lazily, or not at all without an automounter), the device
// does not.
bool drive_still_there(const Drive& drive, const std::string&) {
  return drive.identity.known && block_device_present(drive.identity, system_roots());
}

UsbPlace usb_place_of_drive(const Drive& drive) {
  if (!drive.identity.known) return UsbPlace();
  return usb_place_in_sysfs(system_roots().sys, "block", drive.identity.id);
}

namespace {

std::string without_trailing_slashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

bool drive_named_at(const Drive& drive, const std::string& name, const LinuxRoots& roots) {
  if (!drive.root.empty() && without_trailing_slashes(name) == drive.root) return true;
  struct stat st;
  if (!drive.identity.known || stat(name.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return false;
  if (st.st_rdev == drive.identity.id) return true;
  // The disk a partition lies on: the partition's directory is inside the disk's.
  const std::string named = sysfs_device_dir(roots.sys, "block", st.st_rdev);
  const std::string own = sysfs_device_dir(roots.sys, "block", drive.identity.id);
  return !named.empty() && own.compare(0, named.size() + 1, named + "/") == 0;
}

bool drive_named(const Drive& drive, const std::string& name) {
  return drive_named_at(drive, name, system_roots());
}
