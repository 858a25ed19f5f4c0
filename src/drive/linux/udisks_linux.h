// Mounting through UDisks2, the system bus service that desktops mount
// removable drives with. It decides with polkit who may mount what, so an
// ordinary user can be allowed to without root.
#ifndef FLASHDROP_DRIVE_LINUX_UDISKS_LINUX_H_
#define FLASHDROP_DRIVE_LINUX_UDISKS_LINUX_H_

#include <string>

enum class UdisksOutcome {
  kDone,
  kRefused,      // the policy does not allow this user to mount
  kUnavailable,  // no UDisks2 on the system bus, or it does not know the device
  kBusy,         // mounted already, or being mounted: by an automounter, as a rule
  kFailed,       // it tried and failed
};

// What a UDisks2 call's D-Bus error name means for the tool.
UdisksOutcome udisks_outcome(const std::string& error_name);

// Mounts the file system on `device` (/dev/NAME), read-only if asked. On
// kDone sets `mount_point`; on kRefused and kFailed sets `error` to the
// service's message.
UdisksOutcome udisks_mount(const std::string& device, bool read_only, std::string* mount_point,
                           std::string* error);

// Unmounts what udisks_mount mounted; forced (lazy) when a plain unmount
// fails. False when it could not.
bool udisks_unmount(const std::string& device);

#endif  // FLASHDROP_DRIVE_LINUX_UDISKS_LINUX_H_
