// The block map of a UF2 file: 512-byte blocks, each with three magic
// numbers, a payload of at most 476 bytes, its number and the count of blocks
// in the image, and optionally the chip family it is meant for. A bootloader
// takes the blocks of its own family (or those without one) and restarts once
// it holds every number below the count. Pure: it is given the bytes, so it
// can be fed crafted files and fuzzed.
#ifndef FLASHDROP_UF2_UF2_H_
#define FLASHDROP_UF2_UF2_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr size_t kUf2BlockSize = 512;

// The largest UF2 file the tool reads: 256 MiB of blocks, far more than the
// flash of any board a UF2 bootloader serves (a few MiB; tens at most), so a
// larger file is refused by its size before it is read into memory.
constexpr uint64_t kMaxUf2FileSize = 256ull << 20;

// The blocks of one family, or of the blocks that carry no family id.
struct Uf2Family {
  bool has_id = false;
  uint32_t id = 0;
  uint32_t num_blocks = 0;
  uint64_t end = 0;  // offset just past the family's last block in the file
};

struct Uf2Map {
  std::vector<Uf2Family> families;  // in order of first appearance
};

// True when `data` starts with a UF2 block (the three magic numbers).
bool starts_with_uf2_block(const uint8_t* data, size_t size);

// True when a file whose first bytes are `head` (up to 512 of them) is meant
// as a UF2 file, sound or damaged: its first block has at least two of the
// three magic numbers, or, in a file shorter than a block, the two at its
// start. Such a file is checked whole; a bootloader would never complete a
// damaged one.
bool looks_like_uf2(const uint8_t* head, size_t size);

// Checks what the size alone tells: a multiple of 512, not empty, at most
// kMaxUf2FileSize. Sets `why` to what is wrong.
bool check_uf2_size(uint64_t size, std::string* why);

// Checks a whole UF2 file: its size (check_uf2_size), every block with the
// three magic numbers and at most 476 payload bytes, and for each family one
// block count and each number below it exactly once. Fills `map`, or sets
// `why` to what is wrong ("block 57 of 1200 missing (family 0xE48BFF56 (RP2040))").
// Takes time in proportion to the blocks, whatever their families (a sort of
// the block numbers aside), and may throw std::bad_alloc.
bool check_uf2(const uint8_t* data, size_t size, Uf2Map* map, std::string* why);

// True when every block of some family lies in the first `prefix` bytes: a
// bootloader of that family that received them has its whole image.
bool some_family_within(const Uf2Map& map, uint64_t prefix);

// True when the file has a block of family `id`, or blocks with no family id
// (which a bootloader of any family takes).
bool has_blocks_for(const Uf2Map& map, uint32_t id);

// The family id of the UF2 block at `data`, when it is one and carries one.
bool block_family(const uint8_t* data, size_t size, uint32_t* id);

#endif  // FLASHDROP_UF2_UF2_H_
