// A fake of where USB devices sit, for the triggers' tests.
#ifndef FLASHDROP_TESTS_FAKE_USB_PLACE_H_
#define FLASHDROP_TESTS_FAKE_USB_PLACE_H_

#include <string>

#include "platform/usb_place.h"

namespace fake_usb_place {
// The place of the HID path or serial port name `device`.
void set(const std::string& device, const UsbPlace& place);
void reset();
}  // namespace fake_usb_place

#endif  // FLASHDROP_TESTS_FAKE_USB_PLACE_H_
