#include "drive/linux/unmounted_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <utility>

#include "platform/file_posix.h"

namespace {

struct BlockDevice {
  unsigned major = 0;
  unsigned minor = 0;
  std::string name;  // the kernel's name, as under /dev
};

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return le16(p) | static_cast<uint32_t>(le16(p + 2)) << 16; }
bool power_of_two(unsigned v) { return v != 0 && (v & (v - 1)) == 0; }

// The "dev" attribute, "MAJ:MIN".
bool read_device_number(int dir, const std::string& name, BlockDevice* device) {
  std::string value;
  if (!read_attribute(dir, name + "/dev", &value)) return false;
  char* end;
  device->major = static_cast<unsigned>(strtoul(value.c_str(), &end, 10));
  if (*end != ':') return false;
  device->minor = static_cast<unsigned>(strtoul(end + 1, &end, 10));
  device->name = name;
  return *end == '\0';
}

// A medium is in the drive: an empty card reader reports size 0.
bool has_medium(int dir, const std::string& name) {
  std::string sectors;
  return read_attribute(dir, name + "/size", &sectors) && strtoull(sectors.c_str(), nullptr, 10) > 0;
}

// The partitions the kernel found on the disk `disk`: the subdirectories of
// its sysfs directory that carry a "partition" attribute.
std::vector<BlockDevice> partitions_of(int dir, const std::string& disk) {
  std::vector<BlockDevice> parts;
  const int disk_fd = openat(dir, disk.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (disk_fd < 0) return parts;
  DIR* entries = fdopendir(disk_fd);
  if (entries == nullptr) {
    close(disk_fd);
    return parts;
  }
  while (struct dirent* entry = readdir(entries)) {
    const std::string name = entry->d_name;
    if (name.compare(0, disk.size(), disk) != 0 || name == disk) continue;
    if (faccessat(disk_fd, (name + "/partition").c_str(), F_OK, 0) != 0) continue;
    BlockDevice part;
    if (read_device_number(disk_fd, name, &part) && has_medium(disk_fd, name)) {
      parts.push_back(part);
    }
  }
  closedir(entries);
  return parts;
}

// The devices of a removable disk that may hold a file system: its
// partitions, or the whole disk when it has no partition table.
void add_removable_disk(int dir, const std::string& disk, std::vector<BlockDevice>* devices) {
  if (!has_medium(dir, disk)) return;
  std::vector<BlockDevice> parts = partitions_of(dir, disk);
  if (!parts.empty()) {
    devices->insert(devices->end(), parts.begin(), parts.end());
    return;
  }
  BlockDevice whole;
  if (read_device_number(dir, disk, &whole)) devices->push_back(whole);
}

// Loop, RAM, zram, device-mapper and md devices sit under devices/virtual:
// nothing to unplug there. Telling them by their link saves reading their
// attributes, and some machines have dozens of loop devices.
bool is_virtual(int dir, const char* disk) {
  char target[256];
  const ssize_t n = readlinkat(dir, disk, target, sizeof target - 1);
  if (n < 0) return false;
  target[n] = '\0';
  return strstr(target, "/devices/virtual/") != nullptr;
}

// The devices of every removable disk. Costs one readlink per disk, and one
// small read per disk that is not virtual, when none is removable.
std::vector<BlockDevice> removable_devices(const std::string& sys_block) {
  std::vector<BlockDevice> devices;
  DIR* disks = opendir(sys_block.c_str());
  if (disks == nullptr) return devices;
  const int dir = dirfd(disks);
  while (struct dirent* entry = readdir(disks)) {
    const std::string disk = entry->d_name;
    if (disk[0] == '.' || is_virtual(dir, entry->d_name)) continue;
    if (disk_is_removable(dir, disk, disk)) add_removable_disk(dir, disk, &devices);
  }
  closedir(disks);
  return devices;
}

// Without a udev record (no udevd, or the device is too new for it), the
// first sector tells: only removable devices get here, so this stays cheap.
FsKind probe_boot_sector(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return FsKind::kUnknown;
  uint8_t sector[512];
  ssize_t n;
  do n = pread(fd, sector, sizeof sector, 0); while (n < 0 && errno == EINTR);
  close(fd);
  if (n != static_cast<ssize_t>(sizeof sector)) return FsKind::kUnknown;
  return is_fat_boot_sector(sector, sizeof sector) ? FsKind::kFat : FsKind::kOther;
}

FsKind fs_kind(const BlockDevice& device, const LinuxRoots& roots) {
  std::string record;
  if (read_whole_file(roots.udev + "/data/b" + std::to_string(device.major) + ":" +
                          std::to_string(device.minor),
                      &record)) {
    return fs_kind_from_udev(record);
  }
  return probe_boot_sector(roots.dev + "/" + device.name);
}

// Mounted anywhere, if only a subdirectory of it.
bool is_mounted(const std::vector<MountEntry>& table, const BlockDevice& device) {
  return std::any_of(table.begin(), table.end(), [&](const MountEntry& entry) {
    return entry.major == device.major && entry.minor == device.minor;
  });
}

std::vector<BlockDevice> unmounted_fat(const std::vector<MountEntry>& table,
                                       const LinuxRoots& roots) {
  std::vector<BlockDevice> devices = removable_devices(roots.sys + "/block");
  std::sort(devices.begin(), devices.end(), [](const BlockDevice& a, const BlockDevice& b) {
    return std::tie(a.major, a.minor) < std::tie(b.major, b.minor);
  });
  std::vector<BlockDevice> found;
  for (const BlockDevice& device : devices) {
    if (!is_mounted(table, device) && fs_kind(device, roots) == FsKind::kFat) {
      found.push_back(device);
    }
  }
  return found;
}

}  // namespace

FsKind fs_kind_from_udev(const std::string& record) {
  static const std::string kKey = "E:ID_FS_TYPE=";
  for (size_t start = 0; start < record.size();) {
    size_t end = record.find('\n', start);
    if (end == std::string::npos) end = record.size();
    if (record.compare(start, kKey.size(), kKey) == 0) {
      const std::string type = record.substr(start + kKey.size(), end - start - kKey.size());
      return type == "vfat" ? FsKind::kFat : FsKind::kOther;  // exFAT is "exfat"
    }
    start = end + 1;
  }
  return FsKind::kOther;
}

bool is_fat_boot_sector(const uint8_t* s, size_t size) {
  if (size < 512) return false;
  const bool jump = (s[0] == 0xEB && s[2] == 0x90) || s[0] == 0xE9;
  const unsigned bytes_per_sector = le16(s + 11);
  const unsigned total = le16(s + 19) != 0 ? le16(s + 19) : le32(s + 32);
  const unsigned fat_sectors = le16(s + 22) != 0 ? le16(s + 22) : le32(s + 36);
  return jump && power_of_two(bytes_per_sector) && bytes_per_sector >= 512 &&
         bytes_per_sector <= 4096 && power_of_two(s[13]) && le16(s + 14) >= 1 &&
         (s[16] == 1 || s[16] == 2) && (s[21] == 0xF0 || s[21] >= 0xF8) && total != 0 &&
         fat_sectors != 0;
}

std::vector<std::string> unmounted_fat_devices(const std::vector<MountEntry>& table,
                                               const LinuxRoots& roots) {
  std::vector<std::string> found;
  for (const BlockDevice& device : unmounted_fat(table, roots)) {
    found.push_back(roots.dev + "/" + device.name);
  }
  return found;
}

void append_unmounted_drives(const std::vector<MountEntry>& table, const LinuxRoots& roots,
                             std::vector<Drive>* drives) {
  for (const BlockDevice& device : unmounted_fat(table, roots)) {
    Drive drive;
    drive.device = roots.dev + "/" + device.name;
    drive.mounted = Mounted::kNot;
    drive.identity = drive_identity(makedev(device.major, device.minor), roots);
    drives->push_back(std::move(drive));
  }
}

int64_t unmounted_for_ms(int64_t appeared, int64_t first_seen, int64_t now) {
  return now - std::min(appeared, first_seen);
}
