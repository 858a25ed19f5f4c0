// The drives one search pass found carrying the bootloader's marker, and the
// choice among them of the drives to flash. Pure: the pass fills the list,
// the choice only reads it.
#ifndef FLASHDROP_DRIVE_CANDIDATES_H_
#define FLASHDROP_DRIVE_CANDIDATES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "drive/board.h"
#include "drive/drives.h"
#include "platform/usb_place.h"

// A drive with the marker, and what it tells about the board.
struct Candidate {
  size_t drive = 0;  // its index among the drives the pass listed
  MarkerFile marker;
  // What its INFO_UF2.TXT and the first block of its CURRENT.UF2 tell.
  BoardFacts facts;
  UsbPlace place;  // where its USB device sits
};

// What the command line and the trigger tell about the drives wanted.
struct Choice {
  // The USB ports of the boards the trigger reached ("" where unknown): a
  // board's bootloader drive comes up on its port.
  std::vector<std::string> triggered_ports;
  bool all = false;  // --all: every candidate
};

// The choice, as indices into the candidates, each in pass order.
struct Chosen {
  std::vector<size_t> flash;
  // On a port that no triggered board is on (said once per drive and run).
  std::vector<size_t> passed_over;
  // Candidates that could have been flashed and were not: a note names them.
  std::vector<size_t> others;
};

// (Drives --drive does not name are no candidates.) Without --all, when the
// trigger told ports, a drive on another known port is passed over, and a
// drive on a triggered port goes before one whose port is unknown; the
// first drive left is flashed. With --all, every drive left is.
Chosen choose_candidates(const std::vector<Candidate>& candidates, const Choice& choice);

#endif  // FLASHDROP_DRIVE_CANDIDATES_H_
