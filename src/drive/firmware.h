// The file to put onto the board, opened and checked before anything runs.
#ifndef FLASHDROP_DRIVE_FIRMWARE_H_
#define FLASHDROP_DRIVE_FIRMWARE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "drive/drives.h"
#include "uf2/uf2.h"

struct Firmware {
  SourceFile source;
  bool uf2 = false;
  std::vector<uint8_t> bytes;  // a UF2 file, read whole: the bytes checked are the bytes copied
  Uf2Map map;
};

// The line that refuses the file `name` for `refusal`: "Refused file name
// NAME: REASON", the name escaped, or without the name.
std::string refused_name(const std::string& name, const SourceRefusal& refusal);

// Opens the file; a file that starts with a UF2 block, sound or damaged, is
// read whole (when its size allows) and checked. Returns false with `why` set
// to one line ("Refused file name ...", "Refused UF2 file ...") when it must
// not be copied, a lack of memory included.
bool load_firmware(const char* name, Firmware* firmware, std::string* why);

// The offsets at which the copy must be able to tell what the drive
// acknowledged: the start and the end of each family's last block.
std::vector<uint64_t> piece_ends(const Firmware& firmware);

// What the copy puts onto the drive for `firmware`.
CopyJob copy_job(const Firmware& firmware);

#endif  // FLASHDROP_DRIVE_FIRMWARE_H_
