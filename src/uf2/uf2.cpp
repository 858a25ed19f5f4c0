#include "uf2/uf2.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr uint32_t kMagicStart0 = 0x0A324655;
constexpr uint32_t kMagicStart1 = 0x9E5D5157;
constexpr uint32_t kMagicEnd = 0x0AB16F30;
constexpr uint32_t kFlagFamilyId = 0x2000;
constexpr uint32_t kMaxPayload = 476;

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

struct Block {
  uint32_t flags, payload, number, count, family;
};

Block read_block(const uint8_t* p) {
  return Block{le32(p + 8), le32(p + 16), le32(p + 20), le32(p + 24), le32(p + 28)};
}

bool has_magic(const uint8_t* p) {
  return le32(p) == kMagicStart0 && le32(p + 4) == kMagicStart1 && le32(p + 508) == kMagicEnd;
}

std::string family_label(const Uf2Family& family) {
  if (!family.has_id) return "blocks without a family id";
  char text[32];
  snprintf(text, sizeof text, "family 0x%08X", static_cast<unsigned>(family.id));
  return text;
}

// A family being collected: its entry in the map and its block numbers.
struct Collected {
  Uf2Family family;
  std::vector<uint32_t> numbers;
};

Collected* family_of(std::vector<Collected>* families, const Block& block) {
  const bool has_id = (block.flags & kFlagFamilyId) != 0;
  for (Collected& c : *families) {
    if (c.family.has_id == has_id && (!has_id || c.family.id == block.family)) return &c;
  }
  Collected c;
  c.family.has_id = has_id;
  c.family.id = has_id ? block.family : 0;
  c.family.num_blocks = block.count;
  families->push_back(c);
  return &families->back();
}

// Each number below the count exactly once; `numbers` holds them in file order.
bool numbers_complete(const Collected& c, std::string* why) {
  std::vector<uint32_t> sorted = c.numbers;
  std::sort(sorted.begin(), sorted.end());
  uint32_t expected = 0;
  for (size_t i = 0; i < sorted.size(); ++i) {
    if (i > 0 && sorted[i] == sorted[i - 1]) {
      *why = "block " + std::to_string(sorted[i]) + " of " +
             std::to_string(c.family.num_blocks) + " appears twice (" +
             family_label(c.family) + ")";
      return false;
    }
    if (sorted[i] != expected) break;
    ++expected;
  }
  if (expected < c.family.num_blocks) {
    *why = "block " + std::to_string(expected) + " of " + std::to_string(c.family.num_blocks) +
           " missing (" + family_label(c.family) + ")";
    return false;
  }
  return true;
}

bool check_block(const uint8_t* p, size_t index, std::vector<Collected>* families,
                 std::string* why) {
  const std::string where = "block " + std::to_string(index) + " of the file";
  if (!has_magic(p)) {
    *why = where + " lacks the UF2 magic numbers";
    return false;
  }
  const Block block = read_block(p);
  if (block.payload > kMaxPayload) {
    *why = where + " carries " + std::to_string(block.payload) + " payload bytes, more than 476";
    return false;
  }
  Collected* c = family_of(families, block);
  if (block.count != c->family.num_blocks) {
    *why = where + " says the image has " + std::to_string(block.count) +
           " blocks, earlier ones said " + std::to_string(c->family.num_blocks) + " (" +
           family_label(c->family) + ")";
    return false;
  }
  if (block.number >= block.count) {
    *why = where + " is numbered " + std::to_string(block.number) + ", beyond its count of " +
           std::to_string(block.count) + " (" + family_label(c->family) + ")";
    return false;
  }
  c->numbers.push_back(block.number);
  c->family.end = (static_cast<uint64_t>(index) + 1) * kUf2BlockSize;
  return true;
}

}  // namespace

bool starts_with_uf2_block(const uint8_t* data, size_t size) {
  return size >= kUf2BlockSize && has_magic(data);
}

bool check_uf2(const uint8_t* data, size_t size, Uf2Map* map, std::string* why) {
  if (size == 0 || size % kUf2BlockSize != 0) {
    *why = "its size, " + std::to_string(size) + " bytes, is not a multiple of 512";
    return false;
  }
  std::vector<Collected> families;
  for (size_t index = 0; index < size / kUf2BlockSize; ++index) {
    if (!check_block(data + index * kUf2BlockSize, index, &families, why)) return false;
  }
  map->families.clear();
  for (const Collected& c : families) {
    if (!numbers_complete(c, why)) return false;
    map->families.push_back(c.family);
  }
  return true;
}

bool some_family_within(const Uf2Map& map, uint64_t prefix) {
  for (const Uf2Family& family : map.families) {
    if (family.end <= prefix) return true;
  }
  return false;
}

bool has_blocks_for(const Uf2Map& map, uint32_t id) {
  for (const Uf2Family& family : map.families) {
    if (!family.has_id || family.id == id) return true;
  }
  return false;
}

bool block_family(const uint8_t* data, size_t size, uint32_t* id) {
  if (!starts_with_uf2_block(data, size)) return false;
  const Block block = read_block(data);
  if ((block.flags & kFlagFamilyId) == 0) return false;
  *id = block.family;
  return true;
}
