#include "trigger/hid_trigger.h"

#include <hidapi.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "output/events.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/usb_place.h"
#include "settings/settings.h"
#include "trigger/hid_pad.h"

namespace {

constexpr unsigned short kVendorId = 0x0D28;
constexpr unsigned short kProductId = 0x0204;
constexpr unsigned char kReportId = 0x01;
constexpr char kCommand[] = "{\"name\":\"entry_brevon_bl\"}";
constexpr size_t kCommandLength = sizeof(kCommand) - 1;  // no terminating zero
constexpr size_t kReportLength = 1 + kCommandLength;     // 27
constexpr size_t kBufferSize = 256;

// The reply wait is bounded: a device that never answers must not hold a
// build script or a production bench forever.
constexpr int kReadTimeoutMs = 1000;
constexpr int kMaxEmptyReads = 5;
constexpr unsigned kPauseAfterReadMs = 500;
constexpr unsigned kPauseAfterTriggerMs = 1000;

// A device string as UTF-8, control characters escaped, or "(null)" when
// the device has none.
std::string printable(const wchar_t* text) {
  return text == nullptr ? "(null)" : escape_controls(wide_to_utf8(text));
}

std::string utf8_or_empty(const wchar_t* text) { return text ? wide_to_utf8(text) : ""; }

char* formatted(char* buffer, size_t size, const char* format, unsigned value) {
  snprintf(buffer, size, format, value);
  return buffer;
}

HidBoard board_of(const hid_device_info* entry) {
  HidBoard board;
  board.path = entry->path ? entry->path : "";
  board.serial = utf8_or_empty(entry->serial_number);
  board.manufacturer = utf8_or_empty(entry->manufacturer_string);
  board.product = utf8_or_empty(entry->product_string);
  board.release = entry->release_number;
  board.interface_number = entry->interface_number;
  // Read before any command: the device leaves the bus once it restarts.
  board.place = usb_place_of_hid(entry->path);
  return board;
}

void print_entry(const hid_device_info* entry, const HidBoard& board) {
  char number[16];
  std::string text = "Device Found\n  type: ";
  text += formatted(number, sizeof number, "%04hx ", entry->vendor_id);
  text += formatted(number, sizeof number, "%04hx", entry->product_id);
  text += "\n  path: " + (entry->path ? escape_controls(entry->path) : std::string("(null)"));
  text += "\n  serial_number: " + printable(entry->serial_number) + "\n";
  text += "  Manufacturer: " + printable(entry->manufacturer_string) + "\n";
  text += "  Product:      " + printable(entry->product_string) + "\n";
  text += "  Release:      " + std::string(formatted(number, sizeof number, "%hx", entry->release_number)) + "\n";
  text += "  Interface:    " + std::to_string(entry->interface_number) + "\n\n";
  emit(hid_board_event(board, text));
}

bool selected(const hid_device_info* entry, const wchar_t* filter) {
  if (filter == nullptr) return true;
  return entry->serial_number != nullptr && wcscmp(entry->serial_number, filter) == 0;
}

// Reads until the device answers: each read waits at most kReadTimeoutMs, an
// empty one prints "waiting...", and kMaxEmptyReads empty reads in a row count
// as a failed read. Returns the last read's result.
int read_reply(hid_device* device, unsigned char* buffer) {
  int result = 0;
  int empty_reads = 0;
  while (result == 0) {
    result = hid_read_timeout(device, buffer, kBufferSize, kReadTimeoutMs);
    if (result == 0) {
      emit_line("waiting...");
      if (++empty_reads == kMaxEmptyReads) result = -1;
    }
    if (result < 0) emit_line("Unable to read()");
    pause_ms(kPauseAfterReadMs);
  }
  return result;
}

// The command reached the device: its reply, the bytes up to the first zero
// byte or the returned length.
void report_sent(const char* path, const unsigned char* buffer, int result) {
  std::string reply;
  char hex[8];
  for (int i = 0; i < result && i < static_cast<int>(kBufferSize) && buffer[i] != 0; ++i) {
    snprintf(hex, sizeof hex, "%02hhx ", buffer[i]);
    reply += hex;
  }
  if (!reply.empty()) reply.pop_back();
  emit(Event("trigger", "Data read:\n   " + (reply.empty() ? "" : reply + " ") + "\n")
           .str("kind", "hid")
           .str("path", path)
           .boolean("sent", true)
           .opt_str("reply", reply));
}

// The command did not reach the device; `text` is the line that says so, if any.
void report_not_sent(const char* path, const std::string& text) {
  emit(Event("trigger", text).str("kind", "hid").str("path", path).boolean("sent", false).opt_str(
      "reply", ""));
}

}  // namespace

int sendHID(const char* path) {
  hid_device* device = hid_open_path(path);
  if (device == nullptr) {
    report_not_sent(path, "unable to open device\n");
    return 0;
  }
  // Zeros beyond the command: the padding, where the OS needs it, and the room
  // the reply is read into.
  const size_t write_length = hid_write_length(path, kReportId, kReportLength);
  std::vector<unsigned char> buffer(write_length > kBufferSize ? write_length : kBufferSize, 0);
  buffer[0] = kReportId;
  memcpy(&buffer[1], kCommand, kCommandLength);
  if (hid_write(device, buffer.data(), write_length) < 0) {
    hid_close(device);
    report_not_sent(path, "");
    return 0;
  }
  const int result = read_reply(device, buffer.data());
  report_sent(path, buffer.data(), result);
  hid_close(device);
  return 1;
}

namespace {

// What tells one board from another: its USB port, else its serial number
// (the interfaces of one board share both), else its interface's path.
std::string board_key(const hid_device_info* entry, const UsbPlace& place) {
  if (!place.port.empty()) return "port " + place.port;
  if (entry->serial_number != nullptr && entry->serial_number[0] != L'\0') {
    return "serial " + wide_to_utf8(entry->serial_number);
  }
  return std::string("path ") + (entry->path ? entry->path : "");
}

void count_board(const std::string& key, const UsbPlace& place, TriggerReach* reach) {
  for (const std::string& seen : reach->keys) {
    if (seen == key) return;
  }
  reach->keys.push_back(key);
  reach->ports.push_back(place.port);
}

}  // namespace

TriggerReach DoHID(const wchar_t* filter) {
  TriggerReach reach;
  use_utf8_character_type();
  if (hid_init() != 0) return reach;
  hid_device_info* devices = hid_enumerate(kVendorId, kProductId);
  for (hid_device_info* entry = devices; entry != nullptr; entry = entry->next) {
    const HidBoard board = board_of(entry);
    print_entry(entry, board);
    if (selected(entry, filter) && sendHID(entry->path) == 1) {
      count_board(board_key(entry, board.place), board.place, &reach);
    }
  }
  hid_free_enumeration(devices);
  hid_exit();
  return reach;
}

TriggerReach send_hid_trigger() {
  const TriggerReach reach = DoHID(sn);
  pause_ms(kPauseAfterTriggerMs);
  return reach;
}

std::vector<HidBoard> list_hid_boards() {
  std::vector<HidBoard> boards;
  use_utf8_character_type();
  if (hid_init() != 0) return boards;
  hid_device_info* devices = hid_enumerate(kVendorId, kProductId);
  for (hid_device_info* entry = devices; entry != nullptr; entry = entry->next) {
    boards.push_back(board_of(entry));
  }
  hid_free_enumeration(devices);
  hid_exit();
  return boards;
}

Event hid_board_event(const HidBoard& board, const std::string& text) {
  std::optional<uint64_t> interface_number;
  if (board.interface_number >= 0) interface_number = static_cast<uint64_t>(board.interface_number);
  return Event("hid_board", text)
      .str("path", board.path)
      .opt_str("serial", board.serial)
      .opt_str("manufacturer", board.manufacturer)
      .opt_str("product", board.product)
      .num("release", board.release)
      .opt_num("interface", interface_number)
      .opt_str("port", board.place.port);
}
