// The root directory of a listed Linux drive, and files in it, reached
// without following links and only on the drive's own device.
#ifndef FLASHDROP_DRIVE_LINUX_DRIVE_ROOT_LINUX_H_
#define FLASHDROP_DRIVE_LINUX_DRIVE_ROOT_LINUX_H_

#include <sys/stat.h>

#include <string>

#include "drive/drives.h"

// "<what> <path>: <the system's message for errno>".
std::string errno_text(const std::string& what, const std::string& path);

// Opens `name` in the directory `dir` when it is a regular file of the
// directory's own device, looked at before it is opened (without following a
// link), so that no device node or FIFO is ever opened; and looked at again
// once open, in case it was swapped in between. -1 with errno set otherwise
// (ENODEV: something else than a regular file of that device).
int open_regular(int dir, const std::string& name, int flags, struct stat* st);

// The drive's root directory, as a handle of the caller's own: a copy of the
// one find_marker kept, else the mount point opened now, which must still be
// the listed device. -1 with `why` set.
int open_drive_root(const Drive& drive, std::string* why);

// The name as stored in the directory `dir` that matches `wanted` without
// regard to letter case. The directory is read through a handle of its own,
// so that `dir` keeps its offset.
bool find_in_directory(int dir, const std::string& wanted, std::string* stored);

#endif  // FLASHDROP_DRIVE_LINUX_DRIVE_ROOT_LINUX_H_
