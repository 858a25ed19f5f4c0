// The drives one search pass found carrying the bootloader's marker, and the
// choice among them of the drives to flash. Pure: the pass fills the list,
// the choice only reads it.
#ifndef FLASHDROP_DRIVE_CANDIDATES_H_
#define FLASHDROP_DRIVE_CANDIDATES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "drive/drives.h"

// A drive with the marker, and what it tells about the board.
struct Candidate {
  size_t drive = 0;  // its index among the drives the pass listed
  MarkerFile marker;
  // The first block of CURRENT.UF2, when the file to copy is UF2 and the
  // drive shows one: the family the board runs. Empty otherwise.
  std::vector<uint8_t> current_head;
};

// The candidates to flash, as indices into `candidates`, in order: the first
// candidate, or none when there is none.
std::vector<size_t> choose_candidates(const std::vector<Candidate>& candidates);

#endif  // FLASHDROP_DRIVE_CANDIDATES_H_
