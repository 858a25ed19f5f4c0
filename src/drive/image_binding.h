// How a file that is not UF2 goes onto a board's drive. A UF2 bootloader keeps
// UF2 blocks only, so an ELF, Intel HEX or raw binary image is converted once
// the drive is found: the family and, for a raw binary, the address come from
// the options or from what the board tells. Pure: the facts are handed in.
#ifndef FLASHDROP_DRIVE_IMAGE_BINDING_H_
#define FLASHDROP_DRIVE_IMAGE_BINDING_H_

#include <cstdint>
#include <optional>
#include <string>

#include "drive/board.h"
#include "uf2/image.h"

// What the user asked for on the command line.
struct ImageOptions {
  std::optional<uint32_t> uf2_family;  // --uf2-family
  std::optional<uint64_t> address;     // --address
  uint32_t marker_family = 0;          // -f: non-zero for a %08X.ID drive
};

enum class ImagePlan {
  kCopyAsItIs,  // a %08X.ID drive and no address for a raw binary: as before
  kConvert,
  kRefuse,
};

struct ImageBinding {
  ImagePlan plan = ImagePlan::kCopyAsItIs;
  uint32_t family = 0;  // kConvert
  uint64_t offset = 0;  // kConvert: where a raw binary goes (0 for ELF and HEX)
  std::string why;      // kRefuse: what is missing and which option gives it
};

// Decides for an image of `format` (not UF2) going to a drive whose board
// tells `facts`. The family: --uf2-family, else -f's, else the board's first.
// A raw binary's address: --address, else the board's application start.
ImageBinding bind_image(ImageFormat format, const BoardFacts& facts, const ImageOptions& options);

#endif  // FLASHDROP_DRIVE_IMAGE_BINDING_H_
