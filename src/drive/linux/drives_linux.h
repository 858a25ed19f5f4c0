// The Linux drive layer's parts that tests feed with captured data.
#ifndef FLASHDROP_DRIVE_LINUX_DRIVES_LINUX_H_
#define FLASHDROP_DRIVE_LINUX_DRIVES_LINUX_H_

#include <string>
#include <vector>

#include "drive/drives.h"
#include "drive/mountinfo.h"

// True when the block device major:minor is removable: the sysfs "removable"
// attribute of its disk (a partition's parent) reads 1 -- the bit from which
// Windows derives DRIVE_REMOVABLE -- and it is not an optical drive.
bool is_removable_block_device(const std::string& sysfs_root, unsigned major, unsigned minor);

// The mount points of removable devices, in table order, each device once.
// Mounts of a subdirectory (bind mounts) are skipped: the marker lives in the
// file system's root.
std::vector<MountEntry> removable_mount_points(const std::vector<MountEntry>& table,
                                               const std::string& sysfs_root);

// The block device `number` (a dev_t) and its disk's sequence number.
DriveIdentity drive_identity(uint64_t number, const std::string& sysfs_root);

// True while that block device, and not a newer disk that took its number,
// is in sysfs.
bool block_device_present(const DriveIdentity& identity, const std::string& sysfs_root);

#endif  // FLASHDROP_DRIVE_LINUX_DRIVES_LINUX_H_
