// Finding the bootloader drive and putting the input file onto it.
#ifndef FLASHDROP_DRIVE_DRIVE_SEARCH_H_
#define FLASHDROP_DRIVE_DRIVE_SEARCH_H_

#include <cstdint>
#include <string>

enum class SearchResult {
  kCopied,      // the file was copied onto a bootloader drive
  kNotFound,    // the passes ran out without a bootloader drive
  kCopyFailed,  // a bootloader drive was found but the copy failed
};

// "INFO_UF2.TXT" for family id 0, else the id as "%08X.ID".
std::string marker_name(uint32_t family);

// Searches the removable drives for the marker, up to `times` passes 500 ms
// apart (counting `times` down), and copies `input_filename` onto the first
// drive that has it.
SearchResult scan_removable_drives();

#endif  // FLASHDROP_DRIVE_DRIVE_SEARCH_H_
