// The HID bootloader-entry trigger: sends the command report to the matching
// HID interfaces over hidapi and prints what they answer.
#ifndef FLASHDROP_TRIGGER_HID_TRIGGER_H_
#define FLASHDROP_TRIGGER_HID_TRIGGER_H_

#include <string>
#include <vector>

#include "output/events.h"
#include "platform/usb_place.h"
#include "trigger/trigger.h"

// Lists the interfaces of vendor 0x0D28 product 0x0204 and sends the command
// to each one, or, with a `filter`, only to those whose serial number equals
// it exactly. An empty filter selects an empty serial number. Initialises
// hidapi and shuts it down again. Returns the boards the command was
// written to.
TriggerReach DoHID(const wchar_t* filter);

// Sends the command report to the interface at `path` and prints its reply.
// Returns 1 when the command was written, whatever the reply, 0 when the
// interface could not be opened or the write failed.
int sendHID(const char* path);

// The HID branch of the trigger step: DoHID with the -i filter, then 1000 ms
// for the device to restart.
TriggerReach send_hid_trigger();

// An interface of vendor 0x0D28 product 0x0204, as --list shows it.
struct HidBoard {
  std::string path;
  std::string serial, manufacturer, product;  // UTF-8; empty when it has none
  unsigned release = 0;
  int interface_number = -1;
  UsbPlace place;
};

// Every such interface, without sending anything.
std::vector<HidBoard> list_hid_boards();

// The event of an interface found, with `text` for the text form.
Event hid_board_event(const HidBoard& board, const std::string& text);

#endif  // FLASHDROP_TRIGGER_HID_TRIGGER_H_
