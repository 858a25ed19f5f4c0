#include "drive/linux/block_linux.h"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/file_posix.h"

namespace {

std::string device_name(unsigned major, unsigned minor) {
  return std::to_string(major) + ":" + std::to_string(minor);
}

std::string last_component(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The disk behind sys/dev/block/<dev>: its directory relative to the block
// directory, and its kernel name. Disks carry a "removable" attribute;
// partitions do not, and their directory sits inside their disk's (".."
// after the link resolves against its target).
bool disk_of(int block_dir, const std::string& dev, std::string* disk_dir, std::string* name) {
  char target[512];
  const ssize_t n = readlinkat(block_dir, dev.c_str(), target, sizeof target - 1);
  if (n <= 0) return false;
  std::string path(target, static_cast<size_t>(n));
  if (faccessat(block_dir, (dev + "/removable").c_str(), F_OK, 0) == 0) {
    *disk_dir = dev;
  } else {
    *disk_dir = dev + "/..";
    path = path.substr(0, path.find_last_of('/'));
  }
  *name = last_component(path);
  return true;
}

// An attribute of the disk behind sys/dev/block/<dev>, or "".
std::string disk_attribute(int block_dir, const std::string& dev, const std::string& name) {
  std::string value;
  if (!read_attribute(block_dir, dev + "/" + name, &value)) {
    read_attribute(block_dir, dev + "/../" + name, &value);
  }
  return value;
}

uint64_t disk_sequence(int block_dir, const std::string& dev) {
  return strtoull(disk_attribute(block_dir, dev, "diskseq").c_str(), nullptr, 10);
}

}  // namespace

bool removable_disk_rule(const std::string& removable, const std::string& scsi_type,
                         const std::string& disk_name) {
  return removable == "1" && scsi_type != "5" && disk_name.compare(0, 2, "sr") != 0;
}

bool disk_is_removable(int dir, const std::string& disk_dir, const std::string& disk_name) {
  std::string removable, type;
  // Most disks are fixed: their type is not read at all.
  if (!read_attribute(dir, disk_dir + "/removable", &removable) || removable != "1") return false;
  read_attribute(dir, disk_dir + "/device/type", &type);
  return removable_disk_rule(removable, type, disk_name);
}

int open_block_dir(const LinuxRoots& roots) {
  return open((roots.sys + "/dev/block").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool is_removable(int block_dir, unsigned major, unsigned minor) {
  if (major == 0) return false;  // anonymous devices: tmpfs, proc, overlay...
  std::string disk_dir, name;
  return disk_of(block_dir, device_name(major, minor), &disk_dir, &name) &&
         disk_is_removable(block_dir, disk_dir, name);
}

bool is_removable_block_device(const LinuxRoots& roots, unsigned major, unsigned minor) {
  const int block_dir = open_block_dir(roots);
  if (block_dir < 0) return false;
  const bool removable = is_removable(block_dir, major, minor);
  close(block_dir);
  return removable;
}

DriveIdentity drive_identity(uint64_t number, const LinuxRoots& roots) {
  DriveIdentity identity;
  if (number == 0) return identity;
  const dev_t dev = static_cast<dev_t>(number);
  identity.id = number;
  identity.known = true;
  const int block_dir = open_block_dir(roots);
  if (block_dir < 0) return identity;
  identity.generation = disk_sequence(block_dir, device_name(major(dev), minor(dev)));
  close(block_dir);
  return identity;
}

bool block_device_present(const DriveIdentity& identity, const LinuxRoots& roots) {
  const dev_t dev = static_cast<dev_t>(identity.id);
  const int block_dir = open_block_dir(roots);
  if (block_dir < 0) return false;
  const std::string name = device_name(major(dev), minor(dev));
  const bool present =
      faccessat(block_dir, name.c_str(), F_OK, 0) == 0 &&
      (identity.generation == 0 || disk_sequence(block_dir, name) == identity.generation);
  close(block_dir);
  return present;
}
