// The run sequence: console, options, the file, at most one trigger, the
// drive search (or the listing), and the exit status.
#include <getopt.h>

#include <cstdio>
#include <string>

#include "cli/inspect.h"
#include "cli/listing.h"
#include "cli/options.h"
#include "drive/drive_search.h"
#include "drive/firmware.h"
#include "output/events.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "trigger/hid_trigger.h"
#include "trigger/serial_trigger.h"
#include "trigger/trigger.h"

namespace {

int finish(Outcome outcome) {
  fflush(stdout);
  return exit_status(outcome);
}

// Input refused before anything ran: the line that says why, and the result.
int refused(const std::string& why) {
  emit_line(why);
  emit(result_event(Outcome::kRefused, 0, 0, 0));
  return finish(Outcome::kRefused);
}

// At most one bootloader-entry trigger, as -s asks; the boards it reached.
TriggerReach run_trigger() {
  if (!use_serial) return TriggerReach();
  return is_hid_port(serial_port) ? send_hid_trigger() : send_serial_trigger();
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
  if (input_filename == nullptr && !list_only) {
    printf("Need set input file, exit\n");
    print_usage(stdout, 1);
  }
  std::string why;
  if (!one_operand(argc, argv, &why)) return refused(why);
  if (list_only) return finish(list_boards(run_trigger().ports));
  if (inspect_only) {
    const int status = inspect_file(input_filename);  // 0, or 1 for a refused file
    fflush(stdout);
    return status;
  }
  Firmware firmware;
  if (!load_firmware(input_filename, &firmware, &why)) return refused(why);
  // Whatever the trigger does, the search follows.
  const Outcome outcome = scan_removable_drives(firmware, run_trigger().ports);
  close_source(&firmware.source);
  return finish(outcome);
}
