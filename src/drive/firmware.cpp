#include "drive/firmware.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/text.h"
#include "uf2/families.h"
#include "uf2/uf2_blocks.h"

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

// Only an ELF file (its magic) or text (Intel HEX) needs reading whole to be
// told apart: a file whose first bytes are neither is a raw binary, read
// when it is converted, if ever.
bool may_be_elf_or_hex(const uint8_t* head, size_t size) {
  if (size >= 4 && memcmp(head, "\x7F" "ELF", 4) == 0) return true;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t c = head[i];
    if ((c < 0x20 || c > 0x7E) && c != '\r' && c != '\n' && c != '\t') return false;
  }
  return true;
}

// A file that is not UF2 may be an image to convert for the board: its
// format is told from its content, and an ELF or HEX file is parsed now, so
// that a broken one is refused before anything runs.
bool load_image(Firmware* firmware, const uint8_t* head, size_t head_size, std::string* why) {
  const SourceFile& source = firmware->source;
  firmware->convertible = source.size > 0 && source.size <= kMaxUf2FileSize;
  if (!firmware->convertible || !may_be_elf_or_hex(head, head_size)) return true;
  std::vector<uint8_t> bytes;
  std::string what;
  try {
    if (!read_whole(source, &bytes)) {
      what = "it changed or could not be read while it was checked";
    } else {
      firmware->format = image_format(bytes.data(), bytes.size());
      if (firmware->format == ImageFormat::kBinary ||
          parse_image(bytes.data(), bytes.size(), firmware->format, &firmware->segments, &what)) {
        return true;
      }
    }
  } catch (const std::bad_alloc&) {
    what = "there is not enough memory to read it (" + std::to_string(source.size) + " bytes)";
  }
  *why = refused_image(*firmware, what);
  return false;
}

// The file's name with the extension .uf2 instead of its own.
std::string with_uf2_extension(const std::string& path) {
  const size_t slash = path.find_last_of("/\\:");
  const size_t name = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || dot <= name) return path + ".uf2";
  return path.substr(0, dot) + ".uf2";
}

uint32_t le32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

std::string refused_image(const Firmware& firmware, const std::string& what) {
  return std::string("Refused ") + image_format_name(firmware.format) + " file " +
         escape_controls(firmware.source.name) + ": " + what;
}

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
  firmware->name_on_drive = source.name;
  if (!firmware->uf2) return load_image(firmware, head, head_size, why);
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

bool convert_firmware(Firmware* firmware, uint32_t family, uint64_t offset, std::string* why) {
  std::string what;
  try {
    std::vector<ImageSegment> read;
    if (firmware->format == ImageFormat::kBinary) {
      read.resize(1);
      if (!read_whole(firmware->source, &read[0].bytes)) {
        what = "it changed or could not be read since it was checked";
      }
    }
    const std::vector<ImageSegment>& segments = read.empty() ? firmware->segments : read;
    std::vector<uint8_t> image;
    Uf2Map map;
    if (what.empty() && make_uf2(segments, offset, family, &image, &what) &&
        check_uf2(image.data(), image.size(), &map, &what)) {
      firmware->bytes = std::move(image);
      firmware->map = map;
      firmware->uf2 = firmware->made = true;
      firmware->name_on_drive = with_uf2_extension(firmware->source.name);
      return true;
    }
  } catch (const std::bad_alloc&) {
    what = "there is not enough memory to convert it";
  }
  *why = refused_image(*firmware, what);
  return false;
}

std::string conversion_line(const Firmware& firmware, uint32_t family) {
  char at[16] = "";
  if (firmware.bytes.size() >= kUf2BlockSize) {
    snprintf(at, sizeof at, "0x%08X", static_cast<unsigned>(le32(firmware.bytes.data() + 12)));
  }
  return "Converted " + escape_controls(firmware.source.name) + ": " +
         std::to_string(firmware.bytes.size() / kUf2BlockSize) + " blocks for family " +
         uf2_family_label(family) + " at " + at;
}

CopyJob copy_job(const Firmware& firmware) {
  CopyJob job;
  job.source = &firmware.source;
  job.bytes = &firmware.bytes;
  job.made = firmware.made;
  job.name = firmware.name_on_drive.empty() ? firmware.source.name : firmware.name_on_drive;
  job.piece_ends = piece_ends(firmware);
  return job;
}
