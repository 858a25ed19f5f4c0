#include "cli/listing.h"

#include "drive/drive_search.h"
#include "output/events.h"
#include "platform/text.h"
#include "trigger/hid_trigger.h"

namespace {

Event listing_event(const HidBoard& board) {
  std::string text = "HID board " + escape_controls(board.path) + "\n";
  if (!board.serial.empty()) text += "  Serial number: " + escape_controls(board.serial) + "\n";
  if (!board.place.port.empty()) text += "  USB port: " + escape_controls(board.place.port) + "\n";
  return hid_board_event(board, text);
}

}  // namespace

Outcome list_boards(const std::vector<std::string>& triggered_ports) {
  const size_t drives = list_bootloader_drives(triggered_ports);
  const std::vector<HidBoard> boards = list_hid_boards();
  for (const HidBoard& board : boards) emit(listing_event(board));
  const Outcome outcome = drives > 0 || !boards.empty() ? Outcome::kCopied : Outcome::kNotFound;
  emit(result_event(outcome, drives, 0, 0,
                    outcome == Outcome::kNotFound ? "No bootloader drive or HID board found\n" : ""));
  return outcome;
}
