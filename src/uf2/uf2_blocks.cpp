#include "uf2/uf2_blocks.h"

#include <algorithm>
#include <cstdio>

#include "uf2/uf2.h"

namespace {

constexpr uint32_t kMagicStart0 = 0x0A324655;
constexpr uint32_t kMagicStart1 = 0x9E5D5157;
constexpr uint32_t kMagicEnd = 0x0AB16F30;
constexpr uint32_t kFlagFamilyId = 0x2000;
constexpr uint64_t kAddressSpace = 1ull << 32;

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void put_le32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

Uf2Group* group_of(std::vector<Uf2Group>* groups, bool has_id, uint32_t id) {
  for (Uf2Group& group : *groups) {
    if (group.has_id == has_id && (!has_id || group.id == id)) return &group;
  }
  Uf2Group group;
  group.has_id = has_id;
  group.id = has_id ? id : 0;
  groups->push_back(group);
  return &groups->back();
}

// The pages the segments touch, in address order, each filled with what the
// image gives and 0xFF elsewhere.
struct Page {
  uint64_t address;
  std::vector<uint8_t> bytes;
};

void add_to_pages(const ImageSegment& segment, uint64_t offset, std::vector<Page>* pages) {
  for (size_t i = 0; i < segment.bytes.size(); ++i) {
    const uint64_t address = segment.address + offset + i;
    const uint64_t page = address - address % kUf2PagePayload;
    if (pages->empty() || pages->back().address != page) {
      pages->push_back(Page{page, std::vector<uint8_t>(kUf2PagePayload, 0xFF)});
    }
    pages->back().bytes[address - page] = segment.bytes[i];
  }
}

void write_block(const Page& page, uint32_t number, uint32_t count, uint32_t family, uint8_t* p) {
  put_le32(p, kMagicStart0);
  put_le32(p + 4, kMagicStart1);
  put_le32(p + 8, kFlagFamilyId);
  put_le32(p + 12, static_cast<uint32_t>(page.address));
  put_le32(p + 16, kUf2PagePayload);
  put_le32(p + 20, number);
  put_le32(p + 24, count);
  put_le32(p + 28, family);  // the file-size field holds the family id
  std::copy(page.bytes.begin(), page.bytes.end(), p + 32);
  put_le32(p + 508, kMagicEnd);
}

}  // namespace

std::vector<Uf2Group> uf2_groups(const uint8_t* data, size_t size) {
  std::vector<Uf2Group> groups;
  for (size_t index = 0; index < size / kUf2BlockSize; ++index) {
    const uint8_t* p = data + index * kUf2BlockSize;
    Uf2Group* group = group_of(&groups, (le32(p + 8) & kFlagFamilyId) != 0, le32(p + 28));
    const uint64_t address = le32(p + 12), payload = le32(p + 16);
    ++group->blocks;
    group->payload_bytes += payload;
    if (payload > 0) group->ranges.push_back(AddressRange{address, address + payload});
    group->file_blocks.push_back(AddressRange{index, index + 1});
  }
  for (Uf2Group& group : groups) {
    group.ranges = merged_ranges(group.ranges);
    group.file_blocks = merged_ranges(group.file_blocks);
  }
  return groups;
}

bool make_uf2(const std::vector<ImageSegment>& segments, uint64_t offset, uint32_t family,
              std::vector<uint8_t>* uf2, std::string* why) {
  std::vector<Page> pages;
  for (const ImageSegment& segment : segments) {
    if (segment.address + offset + segment.bytes.size() > kAddressSpace) {
      char text[96];
      snprintf(text, sizeof text, "its data at 0x%08llX reaches past the 4 GiB address space",
               static_cast<unsigned long long>(segment.address + offset));
      *why = text;
      return false;
    }
    add_to_pages(segment, offset, &pages);
  }
  uf2->assign(pages.size() * kUf2BlockSize, 0);
  for (size_t i = 0; i < pages.size(); ++i) {
    write_block(pages[i], static_cast<uint32_t>(i), static_cast<uint32_t>(pages.size()), family,
                uf2->data() + i * kUf2BlockSize);
  }
  return true;
}
