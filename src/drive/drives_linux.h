// The Linux drive layer's parts that tests feed with captured data.
#ifndef FLASHDROP_DRIVE_DRIVES_LINUX_H_
#define FLASHDROP_DRIVE_DRIVES_LINUX_H_

#include <string>
#include <vector>

#include "drive/mountinfo.h"

// True when the block device major:minor is removable: the sysfs "removable"
// attribute of its disk (a partition's parent) reads 1. This is the bit from
// which Windows derives DRIVE_REMOVABLE.
bool is_removable_block_device(const std::string& sysfs_root, unsigned major, unsigned minor);

// The mount points of removable devices, in table order, each device once.
// Mounts of a subdirectory (bind mounts) are skipped: the marker lives in the
// file system's root.
std::vector<std::string> removable_mount_points(const std::vector<MountEntry>& table,
                                                const std::string& sysfs_root);

#endif  // FLASHDROP_DRIVE_DRIVES_LINUX_H_
