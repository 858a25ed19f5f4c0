// Choosing the bootloader-entry trigger that -s names.
#ifndef FLASHDROP_TRIGGER_TRIGGER_H_
#define FLASHDROP_TRIGGER_TRIGGER_H_

#include <string>
#include <vector>

// The boards a trigger sent its command to: one entry per board (the HID
// interfaces of one board count once), with its USB port ("" when unknown).
struct TriggerReach {
  std::vector<std::string> ports;
  std::vector<std::string> keys;  // what told the boards apart
};

// True when the -s value asks for the HID trigger: "HID" in any letter case.
bool is_hid_port(const char* port);

#endif  // FLASHDROP_TRIGGER_TRIGGER_H_
