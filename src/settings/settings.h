// The process-wide settings: filled once from the command line, read by the
// triggers and the drive search.
#ifndef FLASHDROP_SETTINGS_SETTINGS_H_
#define FLASHDROP_SETTINGS_SETTINGS_H_

#include <cstdint>

// Room in snx for the converted -i value, terminator included.
constexpr int kSnCapacity = 100;

extern uint32_t family_id;       // -f, base 16; 0 selects INFO_UF2.TXT
extern int8_t times;             // -t, search passes; negative: search until found
extern const char* serial_port;  // -s, a port name or "HID" in any case
extern bool use_serial;          // -s was given: run a trigger
extern const wchar_t* sn;        // -i, HID serial-number filter; points into snx
extern wchar_t snx[kSnCapacity];
extern uint32_t baud_rate;       // -b
extern const char* input_filename;
extern const char* program_name;
extern bool inspect_only;        // --inspect: print what the file holds, run nothing else
// --uf2-family and --address: how an image that is not UF2 is converted, when
// given; otherwise the board tells.
extern uint32_t uf2_family;
extern bool uf2_family_given;
extern uint64_t image_address;
extern bool image_address_given;

// --list, --all, --drive, --json: which drives, and in which form the run
// tells what it does.
extern bool list_only;           // list the boards and drives, flash nothing
extern bool flash_all;           // flash every drive with the marker, at once
extern const char* drive_name;   // the only drive to consider; nullptr: any
extern bool json_output;         // one JSON object per event instead of the text

extern const char kVersion[];

// Puts every setting back to its default, so that tests can run one case
// after another.
void reset_settings();

#endif  // FLASHDROP_SETTINGS_SETTINGS_H_
