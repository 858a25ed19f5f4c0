// The process-wide settings, filled from the command line, and the usage and
// version texts.
#ifndef FLASHDROP_CLI_SETTINGS_H_
#define FLASHDROP_CLI_SETTINGS_H_

#include <cstdint>
#include <cstdio>

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

extern const char kVersion[];

// Fills the settings from the command line. Usage errors and -h end the
// process with status 1 through print_usage. Returns false when a value was
// refused (the reason has been printed); the caller ends the run with status 1.
bool parse_options(int argc, char** argv);

// Prints the usage text to `stream`; exits with `status` unless it is 0.
void print_usage(FILE* stream, int status);

// Converts `text` from the system's narrow encoding into snx and returns snx,
// or returns nullptr (leaving snx untouched) when the result would not fit.
const wchar_t* char2wchar(const char* text);

// Puts every setting back to its default and resets getopt, so that tests can
// parse one command line after another.
void reset_settings();

#endif  // FLASHDROP_CLI_SETTINGS_H_
