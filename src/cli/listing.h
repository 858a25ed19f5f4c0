// --list: the bootloader drives and the running boards, nothing copied.
#ifndef FLASHDROP_CLI_LISTING_H_
#define FLASHDROP_CLI_LISTING_H_

#include <string>
#include <vector>

#include "drive/verdict.h"

// Runs the passes, lists every drive with the marker, then every HID
// interface of a board. kCopied when it listed anything, else kNotFound.
Outcome list_boards(const std::vector<std::string>& triggered_ports);

#endif  // FLASHDROP_CLI_LISTING_H_
