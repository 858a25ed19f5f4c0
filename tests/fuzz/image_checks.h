// What every parsed image must hold, and the UF2 file made from it.
#ifndef FLASHDROP_TESTS_FUZZ_IMAGE_CHECKS_H_
#define FLASHDROP_TESTS_FUZZ_IMAGE_CHECKS_H_

#include <cstdlib>
#include <string>
#include <vector>

#include "uf2/image.h"
#include "uf2/uf2.h"
#include "uf2/uf2_blocks.h"

// Segments sorted, apart (touching ones are joined), not empty and inside
// the 32-bit address space; their blocks a sound UF2 file of one family that
// covers every byte.
inline void check_image(bool parsed, const std::vector<ImageSegment>& segments,
                        const std::string& why) {
  if (!parsed) {
    if (why.empty()) abort();
    return;
  }
  uint64_t end = 0, bytes = 0;
  for (size_t i = 0; i < segments.size(); ++i) {
    const ImageSegment& s = segments[i];
    if (s.bytes.empty() || (i > 0 && s.address <= end)) abort();
    end = s.address + s.bytes.size();
    if (end > (1ull << 32)) abort();
    bytes += s.bytes.size();
  }
  std::vector<uint8_t> uf2;
  std::string problem;
  if (!make_uf2(segments, 0, 0xE48BFF56, &uf2, &problem)) abort();
  if (segments.empty()) return;
  Uf2Map map;
  if (!check_uf2(uf2.data(), uf2.size(), &map, &problem) || map.families.size() != 1) abort();
  const std::vector<Uf2Group> groups = uf2_groups(uf2.data(), uf2.size());
  if (groups.size() != 1 || groups[0].payload_bytes < bytes ||
      groups[0].payload_bytes != groups[0].blocks * uint64_t{kUf2PagePayload}) {
    abort();
  }
}

#endif  // FLASHDROP_TESTS_FUZZ_IMAGE_CHECKS_H_
