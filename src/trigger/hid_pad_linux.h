// The Linux padding rule, with the sysfs root as a parameter so that tests can
// feed it a captured tree.
#ifndef FLASHDROP_TRIGGER_HID_PAD_LINUX_H_
#define FLASHDROP_TRIGGER_HID_PAD_LINUX_H_

#include <cstddef>
#include <string>

// Payload bytes assumed when the descriptor cannot be read or says nothing
// about the report: the common full-speed report length.
constexpr size_t kFallbackPayload = 64;

// hid_write_length for a hidraw node such as /dev/hidraw3, reading
// <sysfs_root>/class/hidraw/hidraw3/device/report_descriptor.
size_t hidraw_write_length(const std::string& sysfs_root, const char* path, unsigned report_id,
                           size_t length);

#endif  // FLASHDROP_TRIGGER_HID_PAD_LINUX_H_
