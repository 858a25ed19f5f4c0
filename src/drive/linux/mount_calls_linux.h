// The system calls mounting a drive goes through, behind a link-time seam so
// that the mounting logic (mount_linux.cpp) is tested against a fake.
// UDisks2 is reached through udisks_linux.h, the other half of the seam.
#ifndef FLASHDROP_DRIVE_LINUX_MOUNT_CALLS_LINUX_H_
#define FLASHDROP_DRIVE_LINUX_MOUNT_CALLS_LINUX_H_

#include <cstdint>
#include <string>

// mount(2), umount2(2), mkdtemp(3) and rmdir(2): their results, errno set.
int sys_mount(const char* source, const char* target, const char* type, unsigned long flags,
              const char* options);
int sys_umount2(const char* target, int flags);
char* sys_mkdtemp(char* path_template);
int sys_rmdir(const char* path);

// The tool runs as root, and may mount with mount(2).
bool sys_running_as_root();

// The wall clock, in milliseconds.
int64_t sys_now_ms();

// When the node at `path` last changed (its appearance, for a device node
// devtmpfs made), in milliseconds of the same clock; false when it is absent.
bool sys_node_changed_ms(const std::string& path, int64_t* ms);

// True when `path` is a block device node.
bool sys_is_block_device(const std::string& path);

#endif  // FLASHDROP_DRIVE_LINUX_MOUNT_CALLS_LINUX_H_
