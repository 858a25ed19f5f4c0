#include "uf2/image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "uf2/uf2.h"
#include "uf2/uf2_blocks.h"
#include "uf2_builder.h"

namespace {

std::vector<uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

// One Intel HEX record with its checksum; `fix` is added to the checksum.
std::string rec(unsigned type, unsigned offset, const std::vector<uint8_t>& data, int fix = 0) {
  std::vector<uint8_t> r = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(offset >> 8),
                            static_cast<uint8_t>(offset), static_cast<uint8_t>(type)};
  r.insert(r.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (uint8_t b : r) sum += b;
  r.push_back(static_cast<uint8_t>(0x100 - (sum & 0xFF) + fix));
  std::string text = ":";
  char pair[3];
  for (uint8_t b : r) {
    snprintf(pair, sizeof pair, "%02X", b);
    text += pair;
  }
  return text + "\n";
}

const std::string kEnd = rec(1, 0, {});

std::vector<uint8_t> run(uint8_t first, size_t n) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

// Segments written compactly: address and size; the bytes are checked apart.
std::string layout(const std::vector<ImageSegment>& segments) {
  std::string text;
  char part[48];
  for (const ImageSegment& s : segments) {
    snprintf(part, sizeof part, "%s0x%llX+%zu", text.empty() ? "" : " ",
             static_cast<unsigned long long>(s.address), s.bytes.size());
    text += part;
  }
  return text;
}

TEST(ImageFormat, IsDecidedFromTheContent) {
  const std::vector<uint8_t> uf2 = uf2_file(family_blocks(1));
  const struct {
    std::vector<uint8_t> bytes;
    ImageFormat format;
  } cases[] = {
      {uf2, ImageFormat::kUf2},
      {bytes_of("\x7f" "ELF\x01\x01"), ImageFormat::kElf},
      {bytes_of(rec(0, 0, {1, 2}) + "\r\n  \n" + kEnd), ImageFormat::kHex},
      {bytes_of(":broken record\n" + kEnd), ImageFormat::kHex},  // refused by the parser
      {bytes_of(rec(0, 0, {1}) + "hello\n"), ImageFormat::kBinary},
      {bytes_of(":00000001FF\x01"), ImageFormat::kBinary},
      {bytes_of("\n\n"), ImageFormat::kBinary},
      {{}, ImageFormat::kBinary},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(image_format(c.bytes.data(), c.bytes.size()), c.format)
        << std::string(c.bytes.begin(), c.bytes.end());
  }
}

TEST(HexImage, PlacesDataRecordsAndNamesTheLineOfABrokenOne) {
  std::string crlf = rec(0, 0x10, run(0, 4)) + kEnd;
  for (size_t at; (at = crlf.find('\n')) != std::string::npos && crlf[at - 1] != '\r';) {
    crlf.replace(at, 1, "\r\n");
  }
  std::string lower = rec(0, 0xAB, {0xCD}) + kEnd;
  for (char& c : lower) c = static_cast<char>(tolower(c));
  const struct {
    const char* what;
    std::string text;
    const char* result;  // the layout, or why it is refused
  } cases[] = {
      {"data", rec(0, 0x100, run(0, 16)) + rec(0, 0x110, run(16, 4)) + kEnd, "0x100+20"},
      {"a gap", rec(0, 0, run(0, 2)) + rec(0, 8, run(0, 2)) + kEnd, "0x0+2 0x8+2"},
      {"out of order", rec(0, 8, run(0, 2)) + rec(0, 0, run(0, 2)) + kEnd, "0x0+2 0x8+2"},
      {"linear", rec(4, 0, {0x08, 0x00}) + rec(0, 0x20, run(0, 4)) + kEnd, "0x8000020+4"},
      {"segment", rec(2, 0, {0x10, 0x00}) + rec(0, 0x20, run(0, 4)) + kEnd, "0x10020+4"},
      {"segment wraps", rec(2, 0, {0x10, 0x00}) + rec(0, 0xFFFC, run(0, 8)) + kEnd,
       "0x10000+4 0x1FFFC+4"},
      {"start addresses", rec(3, 0, {1, 2, 3, 4}) + rec(5, 0, {1, 2, 3, 4}) +
           rec(0, 0, {9}) + kEnd, "0x0+1"},
      {"after the end", rec(0, 0, {9}) + kEnd + "anything\n", "0x0+1"},
      {"an empty data record puts nothing", rec(0, 0, {9}) + rec(0, 0x40, {}) + kEnd, "0x0+1"},
      {"CR LF", crlf, "0x10+4"},
      {"lower case", lower, "0xAB+1"},
      {"checksum", rec(0, 0, {1}) + rec(0, 1, {2}, 1) + kEnd,
       "line 2: its checksum is 0xFD, its bytes need 0xFC"},
      {"length", ":0300000001FC\n" + kEnd, "line 1: its length does not match its byte count"},
      {"odd digits", rec(0, 0, {1}) + "\n:0000000\n" + kEnd,
       "line 3: it holds something other than pairs of hexadecimal digits after the ':'"},
      {"not a record", rec(0, 0, {1}) + "x\n" + kEnd,
       "line 2: it is not a record (it does not start with ':')"},
      {"unknown type", rec(6, 0, {}) + kEnd, "line 1: record type 6 is unknown"},
      {"bad address record", rec(4, 0, {8}) + kEnd,
       "line 1: a record of type 4 holds 2 bytes, this one 1"},
      {"no end", rec(0, 0, {1}), "it ends without an end-of-file record"},
      {"overlap", rec(0, 0, run(0, 4)) + rec(0, 8, {1}) + rec(0, 2, {7}) + kEnd,
       "line 3: its data at 0x00000002 was already given on line 1"},
      {"past 4 GiB", rec(4, 0, {0xFF, 0xFF}) + rec(0, 0xFFFE, run(0, 4)) + kEnd,
       "line 2: its data runs past the 4 GiB address space"},
  };
  for (const auto& c : cases) {
    std::vector<ImageSegment> segments;
    std::string why;
    const bool ok = parse_hex(reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size(),
                              &segments, &why);
    EXPECT_EQ(ok ? layout(segments) : why, c.result) << c.what;
  }
  std::vector<ImageSegment> segments;
  std::string why;
  const std::string wrap = rec(2, 0, {0x10, 0x00}) + rec(0, 0xFFFE, run(0x40, 4)) + kEnd;
  ASSERT_TRUE(parse_hex(reinterpret_cast<const uint8_t*>(wrap.data()), wrap.size(), &segments,
                        &why));
  EXPECT_EQ(segments[0].bytes, (std::vector<uint8_t>{0x42, 0x43}));
  EXPECT_EQ(segments[1].bytes, (std::vector<uint8_t>{0x40, 0x41}));
}

struct TestSegment {
  uint32_t type;
  uint32_t paddr;
  std::vector<uint8_t> data;
  uint32_t file_size_beyond = 0;  // claims this many bytes more than the file holds
};

// A 32-bit ELF file: its header, the program headers, then each segment's
// contents. The virtual addresses differ from the physical ones.
std::vector<uint8_t> elf_file(const std::vector<TestSegment>& segments, uint8_t elf_class = 1,
                              uint8_t order = 1, uint32_t type = 2) {
  std::vector<uint8_t> out(52 + 32 * segments.size(), 0);
  const uint8_t ident[] = {0x7F, 'E', 'L', 'F', elf_class, order, 1};
  std::copy(ident, ident + sizeof ident, out.begin());
  out[16] = static_cast<uint8_t>(type);
  put_le32(&out, 28, 52);
  out[42] = 32;
  out[44] = static_cast<uint8_t>(segments.size());
  for (size_t i = 0; i < segments.size(); ++i) {
    const TestSegment& s = segments[i];
    const size_t at = 52 + 32 * i;
    put_le32(&out, at, s.type);
    put_le32(&out, at + 4, static_cast<uint32_t>(out.size()));
    put_le32(&out, at + 8, s.paddr + 0x1000);
    put_le32(&out, at + 12, s.paddr);
    put_le32(&out, at + 16, static_cast<uint32_t>(s.data.size()) + s.file_size_beyond);
    put_le32(&out, at + 20, static_cast<uint32_t>(s.data.size()) + 64);
    out.insert(out.end(), s.data.begin(), s.data.end());
  }
  return out;
}

TEST(ElfImage, TakesLoadableContentsAtPhysicalAddresses) {
  std::vector<uint8_t> cut_table = elf_file({{1, 0x100, run(0, 4)}});
  cut_table.resize(70);
  const struct {
    const char* what;
    std::vector<uint8_t> file;
    const char* result;
  } cases[] = {
      {"two loadable", elf_file({{1, 0x10000100, run(0, 8)}, {1, 0x10000000, run(0, 16)}}),
       "0x10000000+16 0x10000100+8"},
      {"adjacent ones join", elf_file({{1, 0x2000, run(0, 8)}, {1, 0x2008, run(8, 8)}}),
       "0x2000+16"},
      {"not loadable, or no contents",
       elf_file({{4, 0x100, run(0, 8)}, {1, 0x200, {}}, {1, 0x300, run(0, 2)}}), "0x300+2"},
      {"64-bit", elf_file({{1, 0, run(0, 4)}}, 2), "it is not a 32-bit little-endian ELF executable"},
      {"big-endian", elf_file({{1, 0, run(0, 4)}}, 1, 2),
       "it is not a 32-bit little-endian ELF executable"},
      {"relocatable", elf_file({{1, 0, run(0, 4)}}, 1, 1, 1),
       "it is not a 32-bit little-endian ELF executable"},
      {"header cut", {0x7F, 'E', 'L', 'F', 1, 1}, "it is not a 32-bit little-endian ELF executable"},
      {"table cut", cut_table, "its program headers reach past the end of the file"},
      {"contents cut", elf_file({{1, 0, run(0, 4)}, {1, 0x100, run(0, 4), 1}}),
       "program header 1: its contents reach past the end of the file"},
      {"past 4 GiB", elf_file({{1, 0xFFFFFFFE, run(0, 4)}}),
       "program header 0: its contents run past the 4 GiB address space"},
      {"overlap", elf_file({{1, 0x100, run(0, 8)}, {1, 0x0, {}}, {1, 0x104, run(0, 8)}}),
       "program headers 0 and 2 both give 0x00000104"},
  };
  for (const auto& c : cases) {
    std::vector<ImageSegment> segments;
    std::string why;
    const bool ok = parse_elf(c.file.data(), c.file.size(), &segments, &why);
    EXPECT_EQ(ok ? layout(segments) : why, c.result) << c.what;
  }
  std::vector<ImageSegment> segments;
  std::string why;
  const std::vector<uint8_t> only_bss = elf_file({{1, 0x100, {}}});
  EXPECT_FALSE(parse_image(only_bss.data(), only_bss.size(), ImageFormat::kElf, &segments, &why));
  EXPECT_EQ(why, "it holds no data");
}

// What a bootloader would write: each block's payload at its address.
std::map<uint64_t, uint8_t> flash_of(const std::vector<uint8_t>& uf2) {
  std::map<uint64_t, uint8_t> flash;
  for (size_t at = 0; at < uf2.size(); at += 512) {
    const uint8_t* p = uf2.data() + at;
    const uint32_t address = p[12] | p[13] << 8 | p[14] << 16 | static_cast<uint32_t>(p[15]) << 24;
    for (uint32_t i = 0; i < 256; ++i) flash[address + i] = p[32 + i];
  }
  return flash;
}

TEST(MadeUf2, PagesOfTheFamilyPaddedWithErasedBytes) {
  const std::vector<ImageSegment> segments = {
      {0x10, run(1, 3)}, {0x100, run(0x10, 300)}, {0x5FF, {0xAA}}};
  const struct {
    uint64_t offset;
    const char* ranges;  // the blocks' addresses
  } cases[] = {{0, "0x0+768 0x500+256"}, {0x10000000, "0x10000000+768 0x10000500+256"}};
  for (const auto& c : cases) {
    std::vector<uint8_t> uf2;
    std::string why;
    ASSERT_TRUE(make_uf2(segments, c.offset, 0xE48BFF59, &uf2, &why)) << why;
    Uf2Map map;
    ASSERT_TRUE(check_uf2(uf2.data(), uf2.size(), &map, &why)) << why;
    const std::vector<Uf2Group> groups = uf2_groups(uf2.data(), uf2.size());
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_TRUE(groups[0].has_id);
    EXPECT_EQ(groups[0].id, 0xE48BFF59u);
    EXPECT_EQ(groups[0].blocks, 4u);
    std::string ranges;
    for (const AddressRange& r : groups[0].ranges) {
      ranges += (ranges.empty() ? "" : " ") + layout({{r.start, std::vector<uint8_t>(r.end - r.start)}});
    }
    EXPECT_EQ(ranges, c.ranges);
    std::map<uint64_t, uint8_t> expected;
    for (const auto& [address, _] : flash_of(uf2)) expected[address] = 0xFF;
    for (const ImageSegment& s : segments) {
      for (size_t i = 0; i < s.bytes.size(); ++i) expected[c.offset + s.address + i] = s.bytes[i];
    }
    EXPECT_EQ(flash_of(uf2), expected);
  }
  std::vector<uint8_t> uf2;
  std::string why;
  EXPECT_FALSE(make_uf2({{0xFFFFFF00, run(0, 300)}}, 0, 0xE48BFF56, &uf2, &why));
  EXPECT_EQ(why, "its data at 0xFFFFFF00 reaches past the 4 GiB address space");
}

}  // namespace
