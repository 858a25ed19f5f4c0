// The Linux drive listing: the mount points of removable block devices in
// /proc/self/mountinfo, then the removable FAT devices nobody mounted, each
// with the identity the listing found. Tests hand in captured trees.
#ifndef FLASHDROP_DRIVE_LINUX_DRIVES_LINUX_H_
#define FLASHDROP_DRIVE_LINUX_DRIVES_LINUX_H_

#include <string>
#include <vector>

#include "drive/drives.h"
#include "drive/linux/block_linux.h"
#include "drive/mountinfo.h"

// The mount points of removable devices, in table order, each device once.
// Mounts of a subdirectory (bind mounts) are skipped: the marker lives in the
// file system's root.
std::vector<MountEntry> removable_mount_points(const std::vector<MountEntry>& table,
                                               const LinuxRoots& roots);

// The drives below `roots`: the mounted ones, in table order, then those
// nobody mounted. False when the mount table cannot be read.
bool list_drives_at(const LinuxRoots& roots, std::vector<Drive>* drives);

// --drive's test for a drive below `roots`: its mount point, or a block
// device node of its device or of the disk it lies on.
bool drive_named_at(const Drive& drive, const std::string& name, const LinuxRoots& roots);

#endif  // FLASHDROP_DRIVE_LINUX_DRIVES_LINUX_H_
