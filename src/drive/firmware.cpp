#include "drive/firmware.h"

#include <algorithm>

#include "platform/text.h"

namespace {

// Larger than any bootloader drive; keeps a hostile file from exhausting memory.
constexpr uint64_t kMaxUf2Size = 1ull << 30;

bool read_exactly(const SourceFile& source, uint64_t offset, uint8_t* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    const long n = read_source_at(source, offset + done, buffer + done, size - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Reads the whole file, which must still have the size it had when opened.
bool read_whole(const SourceFile& source, std::vector<uint8_t>* bytes) {
  bytes->resize(static_cast<size_t>(source.size));
  uint8_t extra;
  return read_exactly(source, 0, bytes->data(), bytes->size()) &&
         read_source_at(source, source.size, &extra, 1) == 0;
}

bool refuse_uf2(const Firmware& firmware, const std::string& what, std::string* why) {
  *why = "Refused UF2 file " + escape_controls(firmware.source.name) + ": " + what;
  return false;
}

}  // namespace

bool load_firmware(const char* name, Firmware* firmware, std::string* why) {
  if (!open_source(name, &firmware->source, why)) return false;
  uint8_t head[kUf2BlockSize];
  const SourceFile& source = firmware->source;
  const size_t head_size = static_cast<size_t>(std::min<uint64_t>(source.size, sizeof head));
  if (!read_exactly(source, 0, head, head_size)) {
    *why = "Refused file name " + escape_controls(source.name) + ": it cannot be read";
    return false;
  }
  firmware->uf2 = starts_with_uf2_block(head, head_size);
  if (!firmware->uf2) return true;
  if (source.size > kMaxUf2Size) return refuse_uf2(*firmware, "it is larger than 1 GiB", why);
  if (!read_whole(source, &firmware->bytes)) {
    return refuse_uf2(*firmware, "it changed or could not be read while it was checked", why);
  }
  std::string what;
  if (!check_uf2(firmware->bytes.data(), firmware->bytes.size(), &firmware->map, &what)) {
    return refuse_uf2(*firmware, what, why);
  }
  return true;
}

std::vector<uint64_t> piece_ends(const Firmware& firmware) {
  std::vector<uint64_t> ends;
  for (const Uf2Family& family : firmware.map.families) {
    // The last block goes in a piece of its own: a bootloader may restart
    // on it before acknowledging that write.
    ends.push_back(family.end - kUf2BlockSize);
    ends.push_back(family.end);
  }
  std::sort(ends.begin(), ends.end());
  ends.erase(std::unique(ends.begin(), ends.end()), ends.end());
  return ends;
}
