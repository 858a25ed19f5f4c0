// What the blocks of a UF2 file put where, family by family, and UF2 blocks
// made from an image that is not one. Pure, like the checker in uf2.h.
#ifndef FLASHDROP_UF2_UF2_BLOCKS_H_
#define FLASHDROP_UF2_UF2_BLOCKS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "uf2/image.h"

constexpr uint32_t kUf2PagePayload = 256;

// The blocks of one family, or the blocks that carry no family id.
struct Uf2Group {
  bool has_id = false;
  uint32_t id = 0;
  uint32_t blocks = 0;
  uint64_t payload_bytes = 0;              // the sum of the blocks' payload sizes
  std::vector<AddressRange> ranges;        // the addresses the payloads go to, merged
  std::vector<AddressRange> file_blocks;   // which blocks of the file, by index, merged
};

// The groups of a file that check_uf2 accepted, in order of first appearance.
std::vector<Uf2Group> uf2_groups(const uint8_t* data, size_t size);

// A UF2 file for family `family` that puts `segments`, moved by `offset`
// (a raw binary's application start; 0 for an image with addresses), into
// blocks of 256 payload bytes at 256-byte aligned addresses, numbered in
// address order, each carrying the family id. Bytes of a block that the image
// does not give are 0xFF, as in erased flash. False with `why` set when the
// image would reach past the 4 GiB address space.
bool make_uf2(const std::vector<ImageSegment>& segments, uint64_t offset, uint32_t family,
              std::vector<uint8_t>* uf2, std::string* why);

#endif  // FLASHDROP_UF2_UF2_BLOCKS_H_
