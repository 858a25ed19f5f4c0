#include "cli/options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/platform.h"
#include "platform/text.h"
#include "uf2/families.h"

namespace {

const char kShortOptions[] = "f:t:s:i:b:vh";

// Long options without a short one return these codes, beyond any character.
// Their names start with none of h, f, v, t, s, b, so every abbreviation of
// the options above keeps its meaning.
enum LongOnlyOption {
  kInspectOption = 0x100,
  kUf2FamilyOption,
  kAddressOption,
  kListOption,
  kDriveOption,
  kAllOption,
  kJsonOption,
};

const struct option kLongOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"family", required_argument, nullptr, 'f'},
    {"version", no_argument, nullptr, 'v'},
    {"times", required_argument, nullptr, 't'},
    {"serial", required_argument, nullptr, 's'},
    {"sn", required_argument, nullptr, 'i'},
    {"baudrate", required_argument, nullptr, 'b'},
    {"inspect", no_argument, nullptr, kInspectOption},
    {"uf2-family", required_argument, nullptr, kUf2FamilyOption},
    {"address", required_argument, nullptr, kAddressOption},
    {"list", no_argument, nullptr, kListOption},
    {"drive", required_argument, nullptr, kDriveOption},
    {"all", no_argument, nullptr, kAllOption},
    {"json", no_argument, nullptr, kJsonOption},
    {nullptr, 0, nullptr, 0},
};

const char kOptionsText[] =
    "Options:\n"
    "  -f --family id          Set the device family id, (default: 0)\n"
    "  -t --times              Number of attempts\n"
    "  -s --serial port        Send via serial port (e.g., COM1)\n"
    "  -b --baudrate rate      Set baud rate (default: 115200)\n"
    "  -i --sn                 HID SN\n"
    "  -h --help               Display help information\n"
    "  -v --version            Show the program version\n"
    "\n";

// strtoul into 32 bits: sign, white space and 0x prefixes as strtoul takes
// them, a value beyond 32 bits saturates, and malformed text gives 0.
uint32_t read_u32(const char* text, int base) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const bool negative = *p == '-';
  errno = 0;
  unsigned long long value = std::strtoull(text, nullptr, base);
  if (errno == ERANGE) return 0xFFFFFFFFu;
  const unsigned long long magnitude = negative ? 0ULL - value : value;
  if (magnitude > 0xFFFFFFFFULL) return 0xFFFFFFFFu;
  const uint32_t result = static_cast<uint32_t>(magnitude);
  return negative ? 0u - result : result;
}

// An address in hexadecimal, with or without 0x, below 4 GiB: where UF2
// blocks can point.
bool read_address(const char* text, uint64_t* address) {
  const char* digits = text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? text + 2 : text;
  if (*digits == '\0' || strspn(digits, "0123456789abcdefABCDEF") != strlen(digits)) return false;
  errno = 0;
  const unsigned long long value = std::strtoull(digits, nullptr, 16);
  if (errno == ERANGE || value > 0xFFFFFFFFull) return false;
  *address = value;
  return true;
}

void print_version_text(int argc, char** argv) {
  for (int i = optind; i < argc; ++i) printf("Argument: %s\n", escape_controls(argv[i]).c_str());
  printf("\nflashdrop, for Windows only, version %s\n", kVersion);
  printf("A tools for convert bin file to uf2 format and send via serial port.\n");
  print_usage(stdout, 0);
}

}  // namespace

const wchar_t* char2wchar(const char* text) {
  std::wstring wide = narrow_to_wide(text);
  if (wide.size() >= static_cast<size_t>(kSnCapacity)) return nullptr;
  wmemcpy(snx, wide.data(), wide.size());
  snx[wide.size()] = L'\0';
  return snx;
}

void print_usage(FILE* stream, int status) {
  fprintf(stream, "\n%s: version %s, a tools for convert bin to uf2 \n", program_name,
          kVersion);
  fprintf(stream,
          "\nusage: %s [-f family] [-t times] [-s port] [-i sn] [-b baudrate]  flash.uf2 \n",
          program_name);
  fputs(kOptionsText, stream);
  if (status != 0) {
    fflush(stream);
    exit(status);
  }
}

bool parse_options(int argc, char** argv) {
  bool option_seen = false;
  bool version_wanted = false;
  int c;
  while ((c = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1) {
    option_seen = true;
    switch (c) {
      case 'h':
        print_usage(stdout, 1);
        break;
      case 'f':
        family_id = read_u32(optarg, 16);
        break;
      case 'v':
        version_wanted = true;
        break;
      case 't':
        times = static_cast<int8_t>(read_u32(optarg, 10) & 0xFFu);
        break;
      case 's':
        serial_port = optarg;
        use_serial = true;
        break;
      case 'i':
        sn = char2wchar(optarg);
        if (sn == nullptr) {
          printf("The -i value is too long: at most %d characters are allowed\n",
                 kSnCapacity - 1);
          return false;
        }
        break;
      case 'b':
        baud_rate = read_u32(optarg, 10);
        break;
      case kInspectOption:
        inspect_only = true;
        break;
      case kUf2FamilyOption:
        if (!parse_uf2_family(optarg, &uf2_family)) {
          printf("Unknown UF2 family %s: give a family's name (such as rp2040) or its id in "
                 "hexadecimal\n",
                 escape_controls(optarg).c_str());
          return false;
        }
        uf2_family_given = true;
        break;
      case kAddressOption:
        if (!read_address(optarg, &image_address)) {
          printf("The --address value %s is not an address in hexadecimal below 4 GiB\n",
                 escape_controls(optarg).c_str());
          return false;
        }
        image_address_given = true;
        break;
      case kListOption:
        list_only = true;
        break;
      case kDriveOption:
        drive_name = optarg;
        break;
      case kAllOption:
        flash_all = true;
        break;
      case kJsonOption:
        json_output = true;
        break;
      default:  // '?': getopt_long has printed its diagnostic
        print_usage(stdout, 1);
    }
  }
  if (!option_seen) print_usage(stdout, 1);
  if (version_wanted) print_version_text(argc, argv);
  return true;
}

void reset_option_parser() {
  optind = 0;  // 0 makes getopt re-read POSIXLY_CORRECT and start afresh
}
