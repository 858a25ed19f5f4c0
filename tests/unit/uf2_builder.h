// Builds UF2 files for tests: blocks listed one by one, each with its family
// (or none), number and count, and optionally broken on purpose.
#ifndef FLASHDROP_TESTS_UF2_BUILDER_H_
#define FLASHDROP_TESTS_UF2_BUILDER_H_

#include <cstdint>
#include <vector>

struct TestBlock {
  uint32_t number;
  uint32_t count;
  bool has_family = true;
  uint32_t family = 0xE48BFF56;
  uint32_t payload = 256;
  bool bad_end_magic = false;
};

inline void put_le32(std::vector<uint8_t>* out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline std::vector<uint8_t> uf2_file(const std::vector<TestBlock>& blocks) {
  std::vector<uint8_t> out(blocks.size() * 512, 0);
  for (size_t i = 0; i < blocks.size(); ++i) {
    const TestBlock& b = blocks[i];
    const size_t at = i * 512;
    put_le32(&out, at, 0x0A324655);
    put_le32(&out, at + 4, 0x9E5D5157);
    put_le32(&out, at + 8, b.has_family ? 0x2000 : 0);
    put_le32(&out, at + 12, 0x10000000 + 256 * b.number);
    put_le32(&out, at + 16, b.payload);
    put_le32(&out, at + 20, b.number);
    put_le32(&out, at + 24, b.count);
    put_le32(&out, at + 28, b.has_family ? b.family : 0);
    out[at + 32] = static_cast<uint8_t>(b.number);
    put_le32(&out, at + 508, b.bad_end_magic ? 0 : 0x0AB16F30);
  }
  return out;
}

// Blocks 0..count-1 of one family, in order.
inline std::vector<TestBlock> family_blocks(uint32_t count, uint32_t family = 0xE48BFF56) {
  std::vector<TestBlock> blocks;
  for (uint32_t n = 0; n < count; ++n) blocks.push_back({n, count, true, family});
  return blocks;
}

#endif  // FLASHDROP_TESTS_UF2_BUILDER_H_
