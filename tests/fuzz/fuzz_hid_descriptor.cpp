// Fuzzes the report-descriptor parser: any bytes, never a crash, and a length
// it reports fits the bits the descriptor could declare.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "trigger/hid_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> descriptor(data, data + size);
  for (unsigned report_id : {0u, 1u, 2u, 255u}) {
    size_t bytes = 0;
    // Reports are capped at 2^40 bits, so no length can reach 2^37 bytes.
    if (output_report_length(descriptor, report_id, &bytes) && bytes > (size_t{1} << 37)) abort();
  }
  return 0;
}
