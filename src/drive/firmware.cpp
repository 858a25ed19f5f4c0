#include "drive/firmware.h"

#include <algorithm>
#include <new>

#include "platform/text.h"

namespace {

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

// Reads the file whole and checks it. The size was checked first, so the
// memory asked for is bounded; a system that cannot give it still refuses
// the file rather than end the program.
bool read_and_check(Firmware* firmware, std::string* why) {
  std::string what;
  try {
    if (!read_whole(firmware->source, &firmware->bytes)) {
      return refuse_uf2(*firmware, "it changed or could not be read while it was checked", why);
    }
    if (check_uf2(firmware->bytes.data(), firmware->bytes.size(), &firmware->map, &what)) {
      return true;
    }
  } catch (const std::bad_alloc&) {
    firmware->bytes = std::vector<uint8_t>();
    firmware->map = Uf2Map();
    what = "there is not enough memory to check it (" +
           std::to_string(firmware->source.size) + " bytes)";
  }
  return refuse_uf2(*firmware, what, why);
}

}  // namespace

std::string refused_name(const std::string& name, const SourceRefusal& refusal) {
  if (!refusal.name_shown) return "Refused file name: " + refusal.reason;
  return "Refused file name " + escape_controls(name) + ": " + refusal.reason;
}

bool load_firmware(const char* name, Firmware* firmware, std::string* why) {
  SourceRefusal refusal;
  if (!open_source(name, &firmware->source, &refusal)) {
    *why = refused_name(name, refusal);
    return false;
  }
  uint8_t head[kUf2BlockSize];
  const SourceFile& source = firmware->source;
  const size_t head_size = static_cast<size_t>(std::min<uint64_t>(source.size, sizeof head));
  if (!read_exactly(source, 0, head, head_size)) {
    *why = refused_name(source.name, {"it cannot be read", true});
    return false;
  }
  // A damaged first block makes a UF2 file too: copied unchecked, it would
  // never complete on the board.
  firmware->uf2 = looks_like_uf2(head, head_size);
  if (!firmware->uf2) return true;
  std::string what;
  if (!check_uf2_size(source.size, &what)) return refuse_uf2(*firmware, what, why);
  return read_and_check(firmware, why);
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

CopyJob copy_job(const Firmware& firmware) {
  CopyJob job;
  job.source = &firmware.source;
  job.bytes = &firmware.bytes;
  job.name = firmware.source.name;
  job.piece_ends = piece_ends(firmware);
  return job;
}
