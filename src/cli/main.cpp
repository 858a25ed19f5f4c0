// The run sequence: console, options, the file, at most one trigger, the
// drive search, and the exit status.
#include <getopt.h>

#include <cstdio>
#include <string>

#include "cli/options.h"
#include "drive/drive_search.h"
#include "drive/drives.h"
#include "platform/platform.h"
#include "trigger/hid_trigger.h"
#include "trigger/serial_trigger.h"
#include "trigger/trigger.h"

namespace {

enum ExitStatus {
  kExitCopied = 0,
  kExitRefused = 1,
  kExitNoDrive = 2,
  kExitCopyFailed = 3,
};

int exit_status(SearchResult result) {
  switch (result) {
    case SearchResult::kCopied:
      return kExitCopied;
    case SearchResult::kNotFound:
      return kExitNoDrive;
    case SearchResult::kCopyFailed:
      break;
  }
  return kExitCopyFailed;
}

int finish(int status) {
  fflush(stdout);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  console_init();
  if (argc <= 1) print_usage(stdout, 1);
  if (!parse_options(argc, argv)) return finish(kExitRefused);
  if (optind < argc) input_filename = argv[optind];
  program_name = argv[0];
  if (input_filename == nullptr) {
    printf("Need set input file, exit\n");
    print_usage(stdout, 1);
  }
  std::string why;
  if (!copy_source_acceptable(input_filename, &why)) {
    printf("%s\n", why.c_str());
    return finish(kExitRefused);
  }
  // At most one bootloader-entry trigger; whatever it does, the search follows.
  if (use_serial) {
    if (is_hid_port(serial_port)) {
      send_hid_trigger();
    } else {
      send_serial_trigger();
    }
  }
  return finish(exit_status(scan_removable_drives()));
}
