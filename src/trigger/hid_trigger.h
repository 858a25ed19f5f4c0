// The HID bootloader-entry trigger: sends the command report to the matching
// HID interfaces over hidapi and prints what they answer.
#ifndef FLASHDROP_TRIGGER_HID_TRIGGER_H_
#define FLASHDROP_TRIGGER_HID_TRIGGER_H_

// Lists the interfaces of vendor 0x0D28 product 0x0204 and sends the command
// to each one, or, with a `filter`, only to those whose serial number equals
// it exactly. An empty filter selects an empty serial number. Initialises
// hidapi and shuts it down again.
void DoHID(const wchar_t* filter);

// Sends the command report to the interface at `path` and prints its reply.
// Returns 1 when the command was written, whatever the reply, 0 when the
// interface could not be opened or the write failed.
int sendHID(const char* path);

// The HID branch of the trigger step: DoHID with the -i filter, then 1000 ms
// for the device to restart.
void send_hid_trigger();

#endif  // FLASHDROP_TRIGGER_HID_TRIGGER_H_
