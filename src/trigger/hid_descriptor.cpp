#include "trigger/hid_descriptor.h"

#include <map>

namespace {

// Item types and tags of the short items that matter here (HID 1.11, 6.2.2).
enum ItemType { kMain = 0, kGlobal = 1, kLocal = 2 };
enum MainTag { kOutput = 9 };
enum GlobalTag { kReportSize = 7, kReportId = 8, kReportCount = 9, kPush = 10, kPop = 11 };
constexpr uint8_t kLongItemPrefix = 0xFE;
// No real report comes near this; it keeps the sums far from overflowing.
constexpr uint64_t kMaxReportBits = uint64_t{1} << 40;

struct Globals {
  uint64_t report_size = 0;
  uint64_t report_count = 0;
  unsigned report_id = 0;
};

uint32_t item_data(const std::vector<uint8_t>& d, size_t at, size_t size) {
  uint32_t value = 0;
  for (size_t k = 0; k < size; ++k) value |= static_cast<uint32_t>(d[at + k]) << (8 * k);
  return value;
}

}  // namespace

bool output_report_length(const std::vector<uint8_t>& descriptor, unsigned report_id,
                          size_t* bytes) {
  std::map<unsigned, uint64_t> output_bits;
  Globals globals;
  std::vector<Globals> stack;
  size_t at = 0;
  while (at < descriptor.size()) {
    const uint8_t prefix = descriptor[at];
    if (prefix == kLongItemPrefix) {  // size byte, tag byte, then the data
      if (at + 2 >= descriptor.size()) return false;
      at += 3 + descriptor[at + 1];
      if (at > descriptor.size()) return false;
      continue;
    }
    static const size_t kDataSize[] = {0, 1, 2, 4};
    const size_t size = kDataSize[prefix & 0x03];
    const unsigned type = (prefix >> 2) & 0x03;
    const unsigned tag = prefix >> 4;
    if (at + 1 + size > descriptor.size()) return false;
    const uint32_t data = item_data(descriptor, at + 1, size);
    at += 1 + size;

    if (type == kGlobal) {
      switch (tag) {
        case kReportSize: globals.report_size = data; break;
        case kReportCount: globals.report_count = data; break;
        case kReportId: globals.report_id = data; break;
        case kPush: stack.push_back(globals); break;
        case kPop:
          if (!stack.empty()) {
            globals = stack.back();
            stack.pop_back();
          }
          break;
        default: break;
      }
    } else if (type == kMain && tag == kOutput) {
      // Each factor has at most 32 bits, so the product cannot wrap.
      const uint64_t item_bits = globals.report_size * globals.report_count;
      uint64_t& bits = output_bits[globals.report_id];
      if (item_bits > kMaxReportBits - bits) return false;
      bits += item_bits;
    }
  }
  const auto found = output_bits.find(report_id);
  if (found == output_bits.end()) return false;
  *bytes = static_cast<size_t>((found->second + 7) / 8);
  return true;
}
