// The serial bootloader-entry trigger: the text "bootloader" written to the
// port named by -s, at the speed given by -b.
#ifndef FLASHDROP_TRIGGER_SERIAL_TRIGGER_H_
#define FLASHDROP_TRIGGER_SERIAL_TRIGGER_H_

#include "trigger/trigger.h"

// Opens serial_port at baud_rate and 8N1, writes the command, closes the port,
// and pauses 1000 ms so the board can restart. When the port cannot be opened
// or configured it prints why and returns at once, without the pause.
// Returns the board it wrote to, with its USB port where known, or none.
TriggerReach send_serial_trigger();

#endif  // FLASHDROP_TRIGGER_SERIAL_TRIGGER_H_
