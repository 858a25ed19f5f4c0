// The run sequence: console, options, the file, at most one trigger, the
// drive search, and the exit status.
#include <getopt.h>

#include <cstdio>
#include <string>

#include "cli/inspect.h"
#include "cli/options.h"
#include "drive/drive_search.h"
#include "drive/firmware.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "trigger/hid_trigger.h"
#include "trigger/serial_trigger.h"
#include "trigger/trigger.h"

namespace {

// The exit status of each outcome.
int exit_status(Outcome outcome) {
  switch (outcome) {
    case Outcome::kCopied:
    case Outcome::kBoardRestarted:
      return 0;  // the board has the file
    case Outcome::kRefused:
      return 1;
    case Outcome::kNotFound:
      return 2;
    case Outcome::kCopyFailed:
      return 3;
    case Outcome::kNotTaken:
      return 4;
  }
  return 3;
}

int finish(Outcome outcome) {
  fflush(stdout);
  return exit_status(outcome);
}

// One file, named once: a second operand (a wildcard that matched two files
// gives one) would otherwise be dropped without a word.
bool one_operand(int argc, char** argv, std::string* why) {
  if (argc - optind <= 1) return true;
  *why = "Refused file name: one file is needed, " + std::to_string(argc - optind) + " were given:";
  for (int i = optind; i < argc; ++i) *why += " " + escape_controls(argv[i]);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  console_init();
  if (argc <= 1) print_usage(stdout, 1);
  if (!parse_options(argc, argv)) return finish(Outcome::kRefused);
  if (optind < argc) input_filename = argv[optind];
  program_name = argv[0];
  if (input_filename == nullptr) {
    printf("Need set input file, exit\n");
    print_usage(stdout, 1);
  }
  std::string why;
  if (!one_operand(argc, argv, &why)) {
    printf("%s\n", why.c_str());
    return finish(Outcome::kRefused);
  }
  if (inspect_only) {
    const int status = inspect_file(input_filename);  // 0, or 1 for a refused file
    fflush(stdout);
    return status;
  }
  Firmware firmware;
  if (!load_firmware(input_filename, &firmware, &why)) {
    printf("%s\n", why.c_str());
    return finish(Outcome::kRefused);
  }
  // At most one bootloader-entry trigger; whatever it does, the search follows.
  if (use_serial) {
    if (is_hid_port(serial_port)) {
      send_hid_trigger();
    } else {
      send_serial_trigger();
    }
  }
  const Outcome outcome = scan_removable_drives(firmware);
  close_source(&firmware.source);
  return finish(outcome);
}
