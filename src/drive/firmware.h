// The file to put onto the board, opened and checked before anything runs.
#ifndef FLASHDROP_DRIVE_FIRMWARE_H_
#define FLASHDROP_DRIVE_FIRMWARE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "drive/drives.h"
#include "uf2/image.h"
#include "uf2/uf2.h"

struct Firmware {
  SourceFile source;
  bool uf2 = false;  // what goes to the drive is UF2: the file, or the image made from it
  // A UF2 file, read whole: the bytes checked are the bytes copied; or the
  // UF2 image made from a file that is not one (`made`).
  std::vector<uint8_t> bytes;
  Uf2Map map;
  // A file that is not UF2: its format, and for ELF and HEX what it puts
  // where, read before anything runs. A raw binary is read when converted.
  ImageFormat format = ImageFormat::kBinary;
  bool convertible = false;  // small enough to be an image for a board
  std::vector<ImageSegment> segments;
  bool made = false;
  std::string name_on_drive;  // the path whose base name the copy takes on the drive
};

// The line that refuses the file `name` for `refusal`: "Refused file name
// NAME: REASON", the name escaped, or without the name.
std::string refused_name(const std::string& name, const SourceRefusal& refusal);

// The line that refuses an image that is not UF2 for `what`: "Refused Intel
// HEX file fw.hex: line 12: ...".
std::string refused_image(const Firmware& firmware, const std::string& what);

// Opens the file; a file that starts with a UF2 block, sound or damaged, is
// read whole (when its size allows) and checked. Returns false with `why` set
// to one line ("Refused file name ...", "Refused UF2 file ...") when it must
// not be copied, a lack of memory included.
bool load_firmware(const char* name, Firmware* firmware, std::string* why);

// The offsets at which the copy must be able to tell what the drive
// acknowledged: the start and the end of each family's last block.
std::vector<uint64_t> piece_ends(const Firmware& firmware);

// Makes the UF2 image of a file that is not UF2: blocks of family `family`,
// a raw binary placed at `offset`. The bytes, the map and the name on the
// drive (the file's name with .uf2) become the image's. False with `why` set
// (one line, "Refused ...") when it cannot be made.
bool convert_firmware(Firmware* firmware, uint32_t family, uint64_t offset, std::string* why);

// The line that says what convert_firmware made: "Converted fw.bin: 1200
// blocks for family 0xE48BFF56 (RP2040) at 0x10000000".
std::string conversion_line(const Firmware& firmware, uint32_t family);

// What the copy puts onto the drive for `firmware`.
CopyJob copy_job(const Firmware& firmware);

#endif  // FLASHDROP_DRIVE_FIRMWARE_H_
