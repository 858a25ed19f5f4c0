// Finding the bootloader drive and putting the input file onto it.
#ifndef FLASHDROP_DRIVE_DRIVE_SEARCH_H_
#define FLASHDROP_DRIVE_DRIVE_SEARCH_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "drive/firmware.h"
#include "drive/verdict.h"
#include "output/events.h"

// How long the board is given to restart after a UF2 file, in milliseconds.
constexpr unsigned kRestartWaitMs = 5000;

// The run's last event: its outcome, the drives flashed (or listed), how
// many have the file, the triggered boards without a drive; `text` is what
// the text form prints.
Event result_event(Outcome outcome, size_t drives, size_t took, size_t missing,
                   const std::string& text = "");

// "INFO_UF2.TXT" for family id 0, else the id as "%08X.ID".
std::string marker_name(uint32_t family);

// Searches the removable drives for the marker, up to `times` passes 500 ms
// apart (counting `times` down), copies `firmware` onto the drive chosen
// among those that have it (with --all onto every one, at once), and tells
// what the board did with it: kCopied, kBoardRestarted, kNotTaken,
// kCopyFailed, kRefused or kNotFound; with --all the worst of the drives'.
// `triggered_ports` holds one entry per board the trigger reached, its USB
// port or "" when unknown: the drive on such a port is chosen, and --all
// waits for as many drives. The last event is the result.
Outcome scan_removable_drives(const Firmware& firmware,
                              const std::vector<std::string>& triggered_ports);

// --list: the same passes, then an entry for every drive with the marker
// (that --drive names). Returns how many it listed.
size_t list_bootloader_drives(const std::vector<std::string>& triggered_ports);

#endif  // FLASHDROP_DRIVE_DRIVE_SEARCH_H_
