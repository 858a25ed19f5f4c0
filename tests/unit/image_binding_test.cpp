#include "drive/image_binding.h"

#include <gtest/gtest.h>

namespace {

BoardFacts rp2040() {
  BoardFacts facts;
  facts.families = {0xE48BFF56};
  facts.app_start = 0x10000000;
  return facts;
}

TEST(ImageBinding, FamilyAndAddressFromOptionsMarkerOrBoard) {
  const BoardFacts unknown;
  struct Case {
    const char* what;
    ImageFormat format;
    BoardFacts facts;
    ImageOptions options;
    ImagePlan plan;
    uint32_t family;
    uint64_t offset;
    const char* why_mentions;
  } cases[] = {
      {"a binary on a known board", ImageFormat::kBinary, rp2040(), {}, ImagePlan::kConvert,
       0xE48BFF56, 0x10000000, ""},
      {"options outrank the board", ImageFormat::kBinary, rp2040(),
       {0xE48BFF59, 0x10004000, 0}, ImagePlan::kConvert, 0xE48BFF59, 0x10004000, ""},
      {"ELF keeps its own addresses", ImageFormat::kElf, rp2040(), {std::nullopt, 0x20000000, 0},
       ImagePlan::kConvert, 0xE48BFF56, 0, ""},
      {"HEX on an unknown board, family given", ImageFormat::kHex, unknown, {0x1234, {}, 0},
       ImagePlan::kConvert, 0x1234, 0, ""},
      {"-f's family before the board's", ImageFormat::kHex, rp2040(), {{}, {}, 0x2A},
       ImagePlan::kConvert, 0x2A, 0, ""},
      {"no family known", ImageFormat::kHex, unknown, {}, ImagePlan::kRefuse, 0, 0,
       "--uf2-family"},
      {"no address for a binary", ImageFormat::kBinary, unknown, {0x1234, {}, 0},
       ImagePlan::kRefuse, 0, 0, "--address"},
      {"a binary for a %08X.ID drive without address", ImageFormat::kBinary, unknown,
       {{}, {}, 0x2A}, ImagePlan::kCopyAsItIs, 0, 0, ""},
      {"a binary for a %08X.ID drive with address", ImageFormat::kBinary, unknown,
       {{}, 0x8000, 0x2A}, ImagePlan::kConvert, 0x2A, 0x8000, ""},
  };
  for (const Case& c : cases) {
    const ImageBinding binding = bind_image(c.format, c.facts, c.options);
    EXPECT_EQ(binding.plan, c.plan) << c.what;
    if (c.plan == ImagePlan::kConvert) {
      EXPECT_EQ(binding.family, c.family) << c.what;
      EXPECT_EQ(binding.offset, c.offset) << c.what;
    }
    if (c.plan == ImagePlan::kRefuse) {
      EXPECT_NE(binding.why.find(c.why_mentions), std::string::npos) << c.what << ": " << binding.why;
    }
  }
}

}  // namespace
