// Any bytes as an ELF file: the parser must never read out of bounds, and the
// segments it gives must make a sound UF2 file.
#include <cstddef>
#include <cstdint>

#include "image_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<ImageSegment> segments;
  std::string why;
  check_image(parse_elf(data, size, &segments, &why), segments, why);
  return 0;
}
