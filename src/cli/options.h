// Option parsing, which fills the process-wide settings, and the usage and
// version texts.
#ifndef FLASHDROP_CLI_OPTIONS_H_
#define FLASHDROP_CLI_OPTIONS_H_

#include <cstdint>
#include <cstdio>

#include "settings/settings.h"

// Fills the settings from the command line. Usage errors and -h end the
// process with status 1 through print_usage. Returns false when a value was
// refused (the reason has been printed); the caller ends the run with status 1.
bool parse_options(int argc, char** argv);

// Prints the usage text to `stream`; exits with `status` unless it is 0.
void print_usage(FILE* stream, int status);

// Converts `text` from the system's narrow encoding into snx and returns snx,
// or returns nullptr (leaving snx untouched) when the result would not fit.
const wchar_t* char2wchar(const char* text);

// Resets getopt, so that tests can parse one command line after another.
void reset_option_parser();

#endif  // FLASHDROP_CLI_OPTIONS_H_
