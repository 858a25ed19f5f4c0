// The drives one search pass found carrying the bootloader's marker, and the
// choice among them of the drives to flash. Pure: the pass fills the list,
// the choice only reads it.
#ifndef FLASHDROP_DRIVE_CANDIDATES_H_
#define FLASHDROP_DRIVE_CANDIDATES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "drive/board.h"
#include "drive/drives.h"

// A drive with the marker, and what it tells about the board.
struct Candidate {
  size_t drive = 0;  // its index among the drives the pass listed
  MarkerFile marker;
  // What its INFO_UF2.TXT and the first block of its CURRENT.UF2 tell.
  BoardFacts facts;
};

// The candidates to flash, as indices into `candidates`, in order: the first
// candidate, or none when there is none.
std::vector<size_t> choose_candidates(const std::vector<Candidate>& candidates);

#endif  // FLASHDROP_DRIVE_CANDIDATES_H_
