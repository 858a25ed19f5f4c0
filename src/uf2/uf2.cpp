#include "uf2/uf2.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "uf2/families.h"

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
  return "family " + uf2_family_label(family.id);
}

// The families met so far, in order of first appearance, and one key per
// block: its family's position in `families` above its number, so that one
// sort puts each family's numbers together and in order.
struct Collector {
  std::vector<Uf2Family> families;
  std::unordered_map<uint64_t, size_t> position;  // family key -> index in families
  std::vector<uint64_t> numbers;
};

Uf2Family& family_of(Collector* c, const Block& block) {
  const bool has_id = (block.flags & kFlagFamilyId) != 0;
  const uint64_t key = has_id ? (uint64_t{1} << 32) | block.family : 0;
  const auto found = c->position.emplace(key, c->families.size());
  if (found.second) {
    Uf2Family family;
    family.has_id = has_id;
    family.id = has_id ? block.family : 0;
    family.num_blocks = block.count;
    c->families.push_back(family);
  }
  return c->families[found.first->second];
}

// Each number below the count exactly once; [first, last) holds the family's
// keys, sorted.
bool numbers_complete(const Uf2Family& family, const uint64_t* first, const uint64_t* last,
                      std::string* why) {
  uint32_t expected = 0;
  for (const uint64_t* key = first; key != last; ++key) {
    const uint32_t number = static_cast<uint32_t>(*key);
    if (key != first && *key == key[-1]) {
      *why = "block " + std::to_string(number) + " of " + std::to_string(family.num_blocks) +
             " appears twice (" + family_label(family) + ")";
      return false;
    }
    if (number != expected) break;
    ++expected;
  }
  if (expected < family.num_blocks) {
    *why = "block " + std::to_string(expected) + " of " + std::to_string(family.num_blocks) +
           " missing (" + family_label(family) + ")";
    return false;
  }
  return true;
}

std::string where(size_t index) { return "block " + std::to_string(index) + " of the file"; }

bool check_block(const uint8_t* p, size_t index, Collector* c, std::string* why) {
  if (!has_magic(p)) {
    *why = where(index) + " lacks the UF2 magic numbers";
    return false;
  }
  const Block block = read_block(p);
  if (block.payload > kMaxPayload) {
    *why = where(index) + " carries " + std::to_string(block.payload) +
           " payload bytes, more than 476";
    return false;
  }
  Uf2Family& family = family_of(c, block);
  if (block.count != family.num_blocks) {
    *why = where(index) + " says the image has " + std::to_string(block.count) +
           " blocks, earlier ones said " + std::to_string(family.num_blocks) + " (" +
           family_label(family) + ")";
    return false;
  }
  if (block.number >= block.count) {
    *why = where(index) + " is numbered " + std::to_string(block.number) +
           ", beyond its count of " + std::to_string(block.count) + " (" + family_label(family) +
           ")";
    return false;
  }
  const uint64_t position = static_cast<uint64_t>(&family - c->families.data());
  c->numbers.push_back(position << 32 | block.number);
  family.end = (static_cast<uint64_t>(index) + 1) * kUf2BlockSize;
  return true;
}

}  // namespace

bool starts_with_uf2_block(const uint8_t* data, size_t size) {
  return size >= kUf2BlockSize && has_magic(data);
}

bool looks_like_uf2(const uint8_t* head, size_t size) {
  if (size < 8) return false;
  const bool start0 = le32(head) == kMagicStart0;
  const bool start1 = le32(head + 4) == kMagicStart1;
  if (size < kUf2BlockSize) return start0 && start1;
  const bool end = le32(head + 508) == kMagicEnd;
  return static_cast<int>(start0) + static_cast<int>(start1) + static_cast<int>(end) >= 2;
}

bool check_uf2_size(uint64_t size, std::string* why) {
  const std::string said = "its size, " + std::to_string(size) + " bytes, ";
  if (size > kMaxUf2FileSize) {
    *why = said + "is more than 256 MiB, far more than any board's flash";
    return false;
  }
  if (size == 0 || size % kUf2BlockSize != 0) {
    *why = said + "is not a multiple of 512";
    return false;
  }
  return true;
}

bool check_uf2(const uint8_t* data, size_t size, Uf2Map* map, std::string* why) {
  if (!check_uf2_size(size, why)) return false;
  Collector c;
  const size_t blocks = size / kUf2BlockSize;
  c.numbers.reserve(blocks);
  for (size_t index = 0; index < blocks; ++index) {
    if (!check_block(data + index * kUf2BlockSize, index, &c, why)) return false;
  }
  std::sort(c.numbers.begin(), c.numbers.end());
  const uint64_t* first = c.numbers.data();
  const uint64_t* const end = first + c.numbers.size();
  for (size_t position = 0; position < c.families.size(); ++position) {
    const uint64_t* last = first;
    while (last != end && (*last >> 32) == position) ++last;
    if (!numbers_complete(c.families[position], first, last, why)) return false;
    first = last;
  }
  map->families = std::move(c.families);
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
