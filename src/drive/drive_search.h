// Finding the bootloader drive and putting the input file onto it.
#ifndef FLASHDROP_DRIVE_DRIVE_SEARCH_H_
#define FLASHDROP_DRIVE_DRIVE_SEARCH_H_

#include <cstdint>
#include <string>

#include "drive/firmware.h"
#include "drive/verdict.h"

// How long the board is given to restart after a UF2 file, in milliseconds.
constexpr unsigned kRestartWaitMs = 5000;

// "INFO_UF2.TXT" for family id 0, else the id as "%08X.ID".
std::string marker_name(uint32_t family);

// Searches the removable drives for the marker, up to `times` passes 500 ms
// apart (counting `times` down), copies `firmware` onto the drive chosen
// among those that have it, and tells what the board did with it: kCopied,
// kBoardRestarted, kNotTaken, kCopyFailed or kNotFound.
Outcome scan_removable_drives(const Firmware& firmware);

#endif  // FLASHDROP_DRIVE_DRIVE_SEARCH_H_
