// Any bytes as a UF2 file: the check must never read out of bounds, and a
// map it accepts must hold together.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "uf2/uf2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Uf2Map map;
  std::string why;
  if (check_uf2(data, size, &map, &why)) {
    for (const Uf2Family& family : map.families) {
      if (family.end == 0 || family.end > size || family.end % kUf2BlockSize != 0) abort();
    }
    if (!some_family_within(map, size)) abort();
    if (!looks_like_uf2(data, size < kUf2BlockSize ? size : kUf2BlockSize)) abort();
    if (!check_uf2_size(size, &why)) abort();
  } else if (why.empty()) {
    abort();
  }
  uint32_t id;
  block_family(data, size, &id);
  return 0;
}
