#include "uf2/image.h"

#include <algorithm>
#include <cstdio>

#include "uf2/uf2.h"

namespace {

constexpr uint64_t kAddressSpace = 1ull << 32;

// Bytes for consecutive addresses, and where in the file they came from (a
// HEX line, an ELF program header), to name it when two of them overlap.
struct Chunk {
  uint64_t address;
  std::vector<uint8_t> bytes;
  size_t origin;
};

std::string hex32(uint64_t value) {
  char text[24];
  snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
  return text;
}

uint32_t le16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }

uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }

// Sorts the chunks by address and joins them into segments. When two overlap,
// returns false with `first` and `second` set to their origins and `at` to
// the first address both give.
bool join_chunks(std::vector<Chunk> chunks, std::vector<ImageSegment>* segments, size_t* first,
                 size_t* second, uint64_t* at) {
  std::stable_sort(chunks.begin(), chunks.end(),
                   [](const Chunk& a, const Chunk& b) { return a.address < b.address; });
  segments->clear();
  const Chunk* last = nullptr;
  for (const Chunk& chunk : chunks) {
    if (chunk.bytes.empty()) continue;  // a data record of length 0 puts nothing anywhere
    if (last != nullptr && chunk.address < last->address + last->bytes.size()) {
      *first = std::min(last->origin, chunk.origin);
      *second = std::max(last->origin, chunk.origin);
      *at = chunk.address;
      return false;
    }
    ImageSegment* tail = segments->empty() ? nullptr : &segments->back();
    if (tail != nullptr && tail->address + tail->bytes.size() == chunk.address) {
      tail->bytes.insert(tail->bytes.end(), chunk.bytes.begin(), chunk.bytes.end());
    } else {
      segments->push_back(ImageSegment{chunk.address, chunk.bytes});
    }
    last = &chunk;
  }
  return true;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The file as lines, split at LF, CR LF or CR.
std::vector<std::string> text_lines(const uint8_t* data, size_t size) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
    if (c == '\r' || c == '\n') {
      lines.emplace_back();
    } else {
      lines.back().push_back(c);
    }
  }
  return lines;
}

std::string trimmed(const std::string& line) {
  size_t begin = 0, end = line.size();
  while (begin < end && is_blank(line[begin])) ++begin;
  while (end > begin && is_blank(line[end - 1])) --end;
  return line.substr(begin, end - begin);
}

bool looks_like_hex(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    const uint8_t c = data[i];
    if ((c < 0x20 || c > 0x7E) && c != '\r' && c != '\n' && c != '\t') return false;
  }
  bool record_seen = false;
  for (const std::string& line : text_lines(data, size)) {
    const std::string text = trimmed(line);
    if (text.empty()) continue;
    if (text[0] != ':') return false;
    record_seen = true;
  }
  return record_seen;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::vector<AddressRange> merged_ranges(std::vector<AddressRange> ranges) {
  std::sort(ranges.begin(), ranges.end(),
            [](const AddressRange& a, const AddressRange& b) { return a.start < b.start; });
  std::vector<AddressRange> merged;
  for (const AddressRange& range : ranges) {
    if (!merged.empty() && range.start <= merged.back().end) {
      merged.back().end = std::max(merged.back().end, range.end);
    } else {
      merged.push_back(range);
    }
  }
  return merged;
}

ImageFormat image_format(const uint8_t* data, size_t size) {
  if (starts_with_uf2_block(data, size)) return ImageFormat::kUf2;
  if (size >= 4 && data[0] == 0x7F && data[1] == 'E' && data[2] == 'L' && data[3] == 'F') {
    return ImageFormat::kElf;
  }
  if (looks_like_hex(data, size)) return ImageFormat::kHex;
  return ImageFormat::kBinary;
}

const char* image_format_name(ImageFormat format) {
  switch (format) {
    case ImageFormat::kUf2:
      return "UF2";
    case ImageFormat::kElf:
      return "ELF";
    case ImageFormat::kHex:
      return "Intel HEX";
    case ImageFormat::kBinary:
      break;
  }
  return "raw binary";
}

namespace {

constexpr size_t kElfHeaderSize = 52;
constexpr uint32_t kElfProgramHeaderSize = 32;
constexpr uint32_t kElfExecutable = 2;
constexpr uint32_t kElfLoadable = 1;

bool elf_program_header(const uint8_t* data, size_t size, const uint8_t* header, size_t index,
                        std::vector<Chunk>* chunks, std::string* why) {
  if (le32(header) != kElfLoadable) return true;
  const uint64_t offset = le32(header + 4), address = le32(header + 12);
  const uint64_t file_size = le32(header + 16);
  if (file_size == 0) return true;
  const std::string where = "program header " + std::to_string(index);
  if (offset + file_size > size) {
    *why = where + ": its contents reach past the end of the file";
    return false;
  }
  if (address + file_size > kAddressSpace) {
    *why = where + ": its contents run past the 4 GiB address space";
    return false;
  }
  chunks->push_back(Chunk{address, std::vector<uint8_t>(data + offset, data + offset + file_size),
                          index});
  return true;
}

bool elf_chunks(const uint8_t* data, size_t size, std::vector<Chunk>* chunks, std::string* why) {
  if (size < kElfHeaderSize || data[4] != 1 || data[5] != 1 || le16(data + 16) != kElfExecutable) {
    *why = "it is not a 32-bit little-endian ELF executable";
    return false;
  }
  const uint64_t table = le32(data + 28), entry_size = le16(data + 42), count = le16(data + 44);
  if (count > 0 && entry_size < kElfProgramHeaderSize) {
    *why = "its program headers are " + std::to_string(entry_size) + " bytes, fewer than 32";
    return false;
  }
  if (table + count * entry_size > size) {
    *why = "its program headers reach past the end of the file";
    return false;
  }
  for (size_t i = 0; i < count; ++i) {
    if (!elf_program_header(data, size, data + table + i * entry_size, i, chunks, why)) return false;
  }
  return true;
}

// The bytes of one ':' record, its length and checksum checked.
bool hex_record(const std::string& text, std::vector<uint8_t>* bytes, std::string* what) {
  if (text[0] != ':') {
    *what = "it is not a record (it does not start with ':')";
    return false;
  }
  bytes->clear();
  for (size_t i = 1; i + 1 < text.size(); i += 2) {
    const int high = hex_digit(text[i]), low = hex_digit(text[i + 1]);
    if (high < 0 || low < 0) break;
    bytes->push_back(static_cast<uint8_t>(high << 4 | low));
  }
  if (bytes->size() * 2 + 1 != text.size()) {
    *what = "it holds something other than pairs of hexadecimal digits after the ':'";
    return false;
  }
  if (bytes->size() < 5 || bytes->size() != (*bytes)[0] + 5u) {
    *what = "its length does not match its byte count";
    return false;
  }
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < bytes->size(); ++i) sum += (*bytes)[i];
  const unsigned need = (0x100 - (sum & 0xFF)) & 0xFF;
  if (bytes->back() != need) {
    char text_sum[64];
    snprintf(text_sum, sizeof text_sum, "its checksum is 0x%02X, its bytes need 0x%02X",
             bytes->back(), need);
    *what = text_sum;
    return false;
  }
  return true;
}

struct HexState {
  uint64_t base = 0;
  bool segmented = false;  // 16-bit offsets wrap within their 64 KiB segment
  bool ended = false;
};

bool hex_data(const std::vector<uint8_t>& r, size_t line, const HexState& state,
              std::vector<Chunk>* chunks, std::string* what) {
  const uint64_t offset = static_cast<uint64_t>(r[1]) << 8 | r[2];
  const size_t count = r[0];
  const uint8_t* data = r.data() + 4;
  // Where the segment wraps, the record goes on at the segment's start.
  const size_t before_wrap = state.segmented ? std::min<uint64_t>(count, 0x10000 - offset) : count;
  if (state.base + offset + before_wrap > kAddressSpace) {
    *what = "its data runs past the 4 GiB address space";
    return false;
  }
  chunks->push_back(Chunk{state.base + offset, {data, data + before_wrap}, line});
  if (before_wrap < count) chunks->push_back(Chunk{state.base, {data + before_wrap, data + count}, line});
  return true;
}

// The byte count of the records that have a fixed one, else -1 (data records).
int fixed_count(uint8_t type) {
  switch (type) {
    case 1:
      return 0;
    case 2:
    case 4:
      return 2;
    case 3:
    case 5:
      return 4;
  }
  return -1;
}

bool hex_apply(const std::vector<uint8_t>& r, size_t line, HexState* state,
               std::vector<Chunk>* chunks, std::string* what) {
  const uint8_t type = r[3];
  const int wanted = fixed_count(type);
  if (wanted >= 0 && r[0] != wanted) {
    *what = "a record of type " + std::to_string(type) + " holds " + std::to_string(wanted) +
            " bytes, this one " + std::to_string(r[0]);
    return false;
  }
  switch (type) {
    case 0:
      return hex_data(r, line, *state, chunks, what);
    case 1:
      state->ended = true;
      return true;
    case 2:
    case 4:
      state->segmented = type == 2;
      state->base = (static_cast<uint64_t>(r[4]) << 8 | r[5]) << (type == 2 ? 4 : 16);
      return true;
    case 3:
    case 5:
      return true;  // start addresses: nothing to write
    default:
      *what = "record type " + std::to_string(type) + " is unknown";
      return false;
  }
}

bool hex_chunks(const uint8_t* data, size_t size, std::vector<Chunk>* chunks, std::string* why) {
  const std::vector<std::string> lines = text_lines(data, size);
  HexState state;
  std::vector<uint8_t> record;
  std::string what;
  for (size_t i = 0; i < lines.size() && !state.ended; ++i) {
    const std::string text = trimmed(lines[i]);
    if (text.empty()) continue;
    if (!hex_record(text, &record, &what) || !hex_apply(record, i + 1, &state, chunks, &what)) {
      *why = "line " + std::to_string(i + 1) + ": " + what;
      return false;
    }
  }
  if (!state.ended) {
    *why = "it ends without an end-of-file record";
    return false;
  }
  return true;
}

}  // namespace

bool parse_elf(const uint8_t* data, size_t size, std::vector<ImageSegment>* segments,
               std::string* why) {
  std::vector<Chunk> chunks;
  if (!elf_chunks(data, size, &chunks, why)) return false;
  size_t first, second;
  uint64_t at;
  if (!join_chunks(std::move(chunks), segments, &first, &second, &at)) {
    *why = "program headers " + std::to_string(first) + " and " + std::to_string(second) +
           " both give " + hex32(at);
    return false;
  }
  return true;
}

bool parse_hex(const uint8_t* data, size_t size, std::vector<ImageSegment>* segments,
               std::string* why) {
  std::vector<Chunk> chunks;
  if (!hex_chunks(data, size, &chunks, why)) return false;
  size_t first, second;
  uint64_t at;
  if (!join_chunks(std::move(chunks), segments, &first, &second, &at)) {
    *why = "line " + std::to_string(second) + ": its data at " + hex32(at) +
           " was already given on line " + std::to_string(first);
    return false;
  }
  return true;
}

bool parse_image(const uint8_t* data, size_t size, ImageFormat format,
                 std::vector<ImageSegment>* segments, std::string* why) {
  bool ok = false;
  switch (format) {
    case ImageFormat::kElf:
      ok = parse_elf(data, size, segments, why);
      break;
    case ImageFormat::kHex:
      ok = parse_hex(data, size, segments, why);
      break;
    case ImageFormat::kBinary:
      segments->assign(1, ImageSegment{0, std::vector<uint8_t>(data, data + size)});
      ok = true;
      break;
    case ImageFormat::kUf2:
      *why = "it is a UF2 file already";
      return false;
  }
  if (ok && (segments->empty() || (segments->size() == 1 && segments->front().bytes.empty()))) {
    *why = "it holds no data";
    return false;
  }
  return ok;
}
