#include "cli/inspect.h"

#include <cstdio>
#include <string>
#include <vector>

#include "drive/drives.h"
#include "drive/firmware.h"
#include "platform/text.h"
#include "uf2/families.h"
#include "uf2/image.h"
#include "uf2/uf2.h"
#include "uf2/uf2_blocks.h"

namespace {

// Larger than any board's flash in any format; keeps a hostile file from
// exhausting memory.
constexpr uint64_t kMaxImageSize = 1ull << 30;

bool read_file(const char* name, std::vector<uint8_t>* bytes, std::string* why) {
  SourceFile source;
  SourceRefusal refusal;
  if (!open_source(name, &source, &refusal)) {
    *why = refused_name(name, refusal);
    return false;
  }
  bool ok = source.size <= kMaxImageSize;
  if (!ok) *why = refused_name(name, {"it is larger than 1 GiB", true});
  if (ok) bytes->resize(static_cast<size_t>(source.size));
  size_t done = 0;
  while (ok && done < bytes->size()) {
    const long n = read_source_at(source, done, bytes->data() + done, bytes->size() - done);
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  uint8_t extra;
  if (ok && read_source_at(source, done, &extra, 1) != 0) ok = false;
  if (!ok && why->empty()) {
    *why = refused_name(name, {"it changed or could not be read", true});
  }
  close_source(&source);
  return ok;
}

std::string counted(uint64_t count, const char* word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::string range_text(const AddressRange& range) {
  char text[80];
  snprintf(text, sizeof text, "0x%08llX-0x%08llX (%llu bytes)",
           static_cast<unsigned long long>(range.start),
           static_cast<unsigned long long>(range.end - 1),
           static_cast<unsigned long long>(range.end - range.start));
  return text;
}

std::string indexes_text(const std::vector<AddressRange>& indexes) {
  std::string text;
  for (const AddressRange& range : indexes) {
    if (!text.empty()) text += ", ";
    text += std::to_string(range.start);
    if (range.end - range.start > 1) text += "-" + std::to_string(range.end - 1);
  }
  return text;
}

void print_uf2(const std::string& file, const std::vector<uint8_t>& bytes) {
  printf("%s: UF2, %s\n", file.c_str(), counted(bytes.size() / kUf2BlockSize, "block").c_str());
  for (const Uf2Group& group : uf2_groups(bytes.data(), bytes.size())) {
    const std::string counts =
        counted(group.blocks, "block") + ", " + std::to_string(group.payload_bytes) + " payload bytes";
    if (group.has_id) {
      printf("  family %s: %s\n", uf2_family_label(group.id).c_str(), counts.c_str());
    } else {
      printf("  no family id: %s, blocks %s of the file\n", counts.c_str(),
             indexes_text(group.file_blocks).c_str());
    }
    for (const AddressRange& range : group.ranges) printf("    %s\n", range_text(range).c_str());
  }
}

// The number of 256-byte pages the segments touch: the blocks they become.
uint64_t page_count(const std::vector<ImageSegment>& segments) {
  uint64_t pages = 0, last = ~0ull;
  for (const ImageSegment& segment : segments) {
    const uint64_t first = segment.address / kUf2PagePayload;
    const uint64_t end = (segment.address + segment.bytes.size() - 1) / kUf2PagePayload;
    pages += end - first + 1 - (first == last ? 1 : 0);
    last = end;
  }
  return pages;
}

void print_image(const std::string& file, ImageFormat format,
                 const std::vector<ImageSegment>& segments) {
  uint64_t total = 0;
  for (const ImageSegment& segment : segments) total += segment.bytes.size();
  if (format == ImageFormat::kBinary) {
    printf("%s: raw binary, %llu bytes, at the board's application start\n", file.c_str(),
           static_cast<unsigned long long>(total));
    printf("  offset %s\n", range_text(AddressRange{0, total}).c_str());
    return;
  }
  printf("%s: %s, %llu bytes in %s, %s of 256 bytes\n", file.c_str(), image_format_name(format),
         static_cast<unsigned long long>(total), counted(segments.size(), "range").c_str(),
         counted(page_count(segments), "UF2 block").c_str());
  for (const ImageSegment& segment : segments) {
    const AddressRange range{segment.address, segment.address + segment.bytes.size()};
    printf("  %s\n", range_text(range).c_str());
  }
}

}  // namespace

int inspect_file(const char* name) {
  std::vector<uint8_t> bytes;
  std::string why;
  if (!read_file(name, &bytes, &why)) {
    printf("%s\n", why.c_str());
    return 1;
  }
  const std::string file = escape_controls(name);
  const ImageFormat format = image_format(bytes.data(), bytes.size());
  if (format == ImageFormat::kUf2) {
    Uf2Map map;
    if (!check_uf2(bytes.data(), bytes.size(), &map, &why)) {
      printf("Refused UF2 file %s: %s\n", file.c_str(), why.c_str());
      return 1;
    }
    print_uf2(file, bytes);
    return 0;
  }
  std::vector<ImageSegment> segments;
  if (!parse_image(bytes.data(), bytes.size(), format, &segments, &why)) {
    printf("Refused %s file %s: %s\n", image_format_name(format), file.c_str(), why.c_str());
    return 1;
  }
  print_image(file, format, segments);
  return 0;
}
