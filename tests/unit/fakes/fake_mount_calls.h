// A fake of the calls the Linux mounting goes through (mount_calls_linux.h
// and UDisks2): scripted results, and a log of every call.
#ifndef FLASHDROP_TESTS_FAKE_MOUNT_CALLS_H_
#define FLASHDROP_TESTS_FAKE_MOUNT_CALLS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "drive/linux/udisks_linux.h"

namespace fake_mount {

struct Script {
  UdisksOutcome udisks_read_only = UdisksOutcome::kUnavailable;
  UdisksOutcome udisks_writable = UdisksOutcome::kDone;
  std::string udisks_error = "";
  bool udisks_unmount_ok = true;
  bool root = true;
  int mount_errno = 0;    // mount(2) of a fresh mount fails with it
  int remount_errno = 0;  // mount(2) with MS_REMOUNT fails with it
  bool device_present = true;
  int64_t device_age_ms = 60000;  // how long ago the device node appeared
};

void reset(const Script& script);
// Every call, as "mount /dev/sdb /run/flashdrop.000001 ro", "umount2 PATH 0",
// "rmdir PATH", "udisks mount /dev/sdb ro", "udisks unmount /dev/sdb".
const std::vector<std::string>& calls();

}  // namespace fake_mount

#endif  // FLASHDROP_TESTS_FAKE_MOUNT_CALLS_H_
