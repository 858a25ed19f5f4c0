// Block devices as sysfs shows them: which disks count as removable drives
// (one rule for the mounted and the unmounted listings), and which disk a
// device number names. Every function is given the roots it reads, so that
// tests hand in captured trees.
#ifndef FLASHDROP_DRIVE_LINUX_BLOCK_LINUX_H_
#define FLASHDROP_DRIVE_LINUX_BLOCK_LINUX_H_

#include <string>

#include "drive/drives.h"

// Where the Linux drive layer reads the system.
struct LinuxRoots {
  std::string proc = "/proc";
  std::string sys = "/sys";
  std::string udev = "/run/udev";  // udev's database, under data/
  std::string dev = "/dev";
};

// The removable rule, from a disk's sysfs attributes (without their newline):
// `removable` is the kernel's 0/1 flag -- the bit from which Windows derives
// DRIVE_REMOVABLE -- and optical drives, which report removable media too,
// are left out: the sr driver's disks, and SCSI peripheral type 5.
bool removable_disk_rule(const std::string& removable, const std::string& scsi_type,
                         const std::string& disk_name);

// Applies the rule to the disk whose sysfs directory is `disk_dir` below the
// directory `dir`, the disk being named `disk_name`.
bool disk_is_removable(int dir, const std::string& disk_dir, const std::string& disk_name);

// True when the block device major:minor is removable: the rule applied to
// its disk (a partition's parent), found through sys/dev/block/MAJ:MIN.
bool is_removable_block_device(const LinuxRoots& roots, unsigned major, unsigned minor);

// The identity of the block device `number` (a dev_t): its number and its
// disk's sequence number.
DriveIdentity drive_identity(uint64_t number, const LinuxRoots& roots);

// True while that block device, and not a newer disk that took its number,
// is in sysfs.
bool block_device_present(const DriveIdentity& identity, const LinuxRoots& roots);

// sys/dev/block opened as a directory, or -1.
int open_block_dir(const LinuxRoots& roots);

// Whether major:minor, found in the open sys/dev/block, is removable.
bool is_removable(int block_dir, unsigned major, unsigned minor);

#endif  // FLASHDROP_DRIVE_LINUX_BLOCK_LINUX_H_
