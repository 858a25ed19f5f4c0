// How long a report must be handed to hid_write for the device to receive a
// full output report. One implementation per OS (hid_pad_linux.cpp,
// hid_pad_win32.cpp).
#ifndef FLASHDROP_TRIGGER_HID_PAD_H_
#define FLASHDROP_TRIGGER_HID_PAD_H_

#include <cstddef>

// The number of bytes to write, report id byte included, for a report of
// `length` bytes with `report_id` to the interface at `path` (a path from
// hid_enumerate). Never less than `length`; the bytes past it are zeros.
size_t hid_write_length(const char* path, unsigned report_id, size_t length);

#endif  // FLASHDROP_TRIGGER_HID_PAD_H_
