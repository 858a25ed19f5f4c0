// Firmware images that are not UF2 files, read into the bytes they put at
// each address: ELF executables, Intel HEX files and raw binaries. Pure: they
// are given the file's bytes, so they can be fed crafted files and fuzzed.
#ifndef FLASHDROP_UF2_IMAGE_H_
#define FLASHDROP_UF2_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Addresses from `start` up to, not including, `end`.
struct AddressRange {
  uint64_t start = 0;
  uint64_t end = 0;
};

// Sorts the ranges and joins those that overlap or touch.
std::vector<AddressRange> merged_ranges(std::vector<AddressRange> ranges);

// Bytes that go to consecutive addresses.
struct ImageSegment {
  uint64_t address = 0;
  std::vector<uint8_t> bytes;
};

enum class ImageFormat { kUf2, kElf, kHex, kBinary };

// Decided from the content: a UF2 block first, the ELF magic, text made of
// ':' records only (Intel HEX), else a raw binary.
ImageFormat image_format(const uint8_t* data, size_t size);

// "UF2", "ELF", "Intel HEX", "raw binary".
const char* image_format_name(ImageFormat format);

// The loadable segments of a 32-bit little-endian ELF executable that have
// file contents, at their physical addresses.
bool parse_elf(const uint8_t* data, size_t size, std::vector<ImageSegment>* segments,
               std::string* why);

// The data records of an Intel HEX file, placed by its extended segment and
// extended linear address records; every record's checksum checked. `why`
// names the line of a broken record ("line 12: ...").
bool parse_hex(const uint8_t* data, size_t size, std::vector<ImageSegment>* segments,
               std::string* why);

// The file's bytes in the format `format` names (ELF, HEX or binary) as
// segments sorted by address, none overlapping. A raw binary gives one
// segment at address 0: it goes at the board's application start, added when
// the blocks are made. False with `why` set for a broken or empty file.
bool parse_image(const uint8_t* data, size_t size, ImageFormat format,
                 std::vector<ImageSegment>* segments, std::string* why);

#endif  // FLASHDROP_UF2_IMAGE_H_
