#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

#include "drive/drives.h"
#include "drive/drives_linux.h"
#include "platform/file_posix.h"

namespace {

std::string base_name(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string join_path(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::string errno_text(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + strerror(errno);
}

// Writes all of `data`, retrying short writes and interrupted calls.
bool write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool copy_contents(int in, int out, const std::string& source, const std::string& dest,
                   std::string* why) {
  static char buffer[128 * 1024];  // as large as cp's, for the same write sizes
  for (;;) {
    ssize_t n = read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *why = errno_text("cannot read", source);
      return false;
    }
    if (n == 0) return true;
    if (!write_all(out, buffer, static_cast<size_t>(n))) {
      *why = errno_text("cannot write", dest);
      return false;
    }
  }
}

// Copies into `dest`, which must not be the source itself: opening it for
// writing would truncate the source before it is read.
bool copy_file(int in, const std::string& source, const std::string& dest, std::string* why) {
  struct stat src_st, dst_st;
  if (fstat(in, &src_st) == 0 && stat(dest.c_str(), &dst_st) == 0 &&
      src_st.st_dev == dst_st.st_dev && src_st.st_ino == dst_st.st_ino) {
    *why = source + " is already the file on the drive";
    return false;
  }
  int out = open(dest.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    *why = errno_text("cannot create", dest);
    return false;
  }
  bool ok = copy_contents(in, out, source, dest, why);
  // The drive is only written when the data reach it: fsync, then close.
  if (ok && fsync(out) != 0) {
    *why = errno_text("cannot flush", dest);
    ok = false;
  }
  if (close(out) != 0 && ok) {
    *why = errno_text("cannot close", dest);
    ok = false;
  }
  if (!ok) unlink(dest.c_str());  // leave no truncated image behind
  return ok;
}

}  // namespace

namespace {

// Reads the "removable" attribute of the disk behind sysfs's dev/block/<dev>.
// Disks carry the attribute; partitions do not, and their directory sits
// inside their disk's (".." after the link resolves against its target).
bool disk_is_removable(int block_dir, const std::string& dev) {
  int fd = openat(block_dir, (dev + "/removable").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fd = openat(block_dir, (dev + "/../removable").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char value = '0';
  const bool read_one = read(fd, &value, 1) == 1;
  close(fd);
  return read_one && value == '1';
}

bool is_removable(int block_dir, unsigned major, unsigned minor) {
  if (major == 0) return false;  // anonymous devices: tmpfs, proc, overlay...
  return disk_is_removable(block_dir, std::to_string(major) + ":" + std::to_string(minor));
}

int open_block_dir(const std::string& sysfs_root) {
  return open((sysfs_root + "/dev/block").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace

bool is_removable_block_device(const std::string& sysfs_root, unsigned major, unsigned minor) {
  const int block_dir = open_block_dir(sysfs_root);
  if (block_dir < 0) return false;
  const bool removable = is_removable(block_dir, major, minor);
  close(block_dir);
  return removable;
}

std::vector<std::string> removable_mount_points(const std::vector<MountEntry>& table,
                                                const std::string& sysfs_root) {
  std::vector<std::string> points;
  const int block_dir = open_block_dir(sysfs_root);
  if (block_dir < 0) return points;
  std::set<std::pair<unsigned, unsigned>> seen;
  for (const MountEntry& entry : table) {
    if (entry.root != "/") continue;
    if (!seen.insert({entry.major, entry.minor}).second) continue;
    if (is_removable(block_dir, entry.major, entry.minor)) points.push_back(entry.mount_point);
  }
  close(block_dir);
  return points;
}

bool list_removable_drives(std::vector<std::string>* roots) {
  std::string text;
  if (!read_whole_file("/proc/self/mountinfo", &text)) return false;
  *roots = removable_mount_points(parse_mountinfo(text), "/sys");
  return true;
}

bool find_marker(const std::string& root, const std::string& marker, MarkerFile* found) {
  DIR* dir = opendir(root.c_str());
  if (dir == nullptr) return false;
  bool matched = false;
  while (struct dirent* entry = readdir(dir)) {
    if (strcasecmp(entry->d_name, marker.c_str()) != 0) continue;
    struct stat st;
    if (stat(join_path(root, entry->d_name).c_str(), &st) != 0) continue;
    found->name = entry->d_name;
    found->size = static_cast<long>(st.st_size);
    matched = true;
    break;
  }
  closedir(dir);
  return matched;
}

// The copy is done here, not by a shell: any file name is safe.
bool copy_source_acceptable(const char*, std::string*) { return true; }

bool copy_to_drive(const std::string& source, const std::string& root, std::string* why) {
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    *why = errno_text("cannot open", source);
    return false;
  }
  bool ok = copy_file(in, source, join_path(root, base_name(source)), why);
  close(in);
  return ok;
}
