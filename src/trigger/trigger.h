// Choosing the bootloader-entry trigger that -s names.
#ifndef FLASHDROP_TRIGGER_TRIGGER_H_
#define FLASHDROP_TRIGGER_TRIGGER_H_

// True when the -s value asks for the HID trigger: "HID" in any letter case.
bool is_hid_port(const char* port);

#endif  // FLASHDROP_TRIGGER_TRIGGER_H_
