// Removable drives that nobody mounted: on a machine without an automounter
// the bootloader's drive appears as a block device and stays unmounted.
//
// A candidate is a removable block device (the removable rule of
// block_linux.h, shared with the mounted drives) that holds a FAT12/16/32 file system and that
// no mount uses: a whole disk without a partition table, or a partition.
// The file system type comes from the udev database; a device udev has no
// record of has its first sector read instead.
#ifndef FLASHDROP_DRIVE_LINUX_UNMOUNTED_LINUX_H_
#define FLASHDROP_DRIVE_LINUX_UNMOUNTED_LINUX_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "drive/drives.h"
#include "drive/linux/block_linux.h"
#include "drive/mountinfo.h"

// Appends the removable FAT block devices below `roots` (sys/block,
// udev/data, dev) that no entry of `table` mounts, in device order, as drives
// with `device` set and no root yet.
void append_unmounted_drives(const std::vector<MountEntry>& table, const LinuxRoots& roots,
                             std::vector<Drive>* drives);

// The device paths of the candidates, in (major, minor) order.
std::vector<std::string> unmounted_fat_devices(const std::vector<MountEntry>& table,
                                               const LinuxRoots& roots);

// What a file system probe said about a device.
enum class FsKind { kUnknown, kFat, kOther };

// The file system type a udev database record names (its E:ID_FS_TYPE line):
// vfat is FAT12/16/32; a record without the line holds no file system.
FsKind fs_kind_from_udev(const std::string& record);

// True when `sector` (the first bytes of a device) is a FAT12/16/32 boot
// sector: a jump instruction and a plausible BIOS parameter block. exFAT and
// NTFS, and partition tables, are not.
bool is_fat_boot_sector(const uint8_t* sector, size_t size);

// A drive nobody mounted is left to the desktop's automounter, which mounts
// within a few hundred milliseconds, for this long before the tool mounts it.
constexpr int64_t kLeftToTheDesktopMs = 1000;

// How long a drive has stood unmounted at `now`: from its device's
// appearance, or from when the tool first saw it if that is earlier (a clock
// set back). All in milliseconds of the same clock.
int64_t unmounted_for_ms(int64_t appeared, int64_t first_seen, int64_t now);

#endif  // FLASHDROP_DRIVE_LINUX_UNMOUNTED_LINUX_H_
