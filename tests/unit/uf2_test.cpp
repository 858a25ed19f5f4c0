#include "uf2/uf2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "uf2_builder.h"

namespace {

constexpr uint32_t kBoard = 0xE48BFF56;
constexpr uint32_t kOther = 0x68ED2B88;

std::vector<TestBlock> concat(std::vector<TestBlock> a, const std::vector<TestBlock>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct CheckCase {
  const char* what;
  std::vector<uint8_t> file;
  const char* why;  // nullptr: the file is sound
};

TEST(Uf2Check, AcceptsSoundFilesAndSaysWhatIsWrongWithBrokenOnes) {
  std::vector<TestBlock> missing = family_blocks(1200);
  missing.erase(missing.begin() + 57);
  std::vector<TestBlock> twice = family_blocks(4);
  twice[2].number = 1;
  std::vector<TestBlock> shuffled = family_blocks(3);
  std::swap(shuffled[0], shuffled[2]);
  std::vector<TestBlock> recount = family_blocks(3);
  recount[1].count = 4;
  std::vector<TestBlock> beyond = family_blocks(3);
  beyond[2].number = 3;
  std::vector<TestBlock> fat_payload = family_blocks(2);
  fat_payload[1].payload = 477;
  std::vector<TestBlock> no_end_magic = family_blocks(2);
  no_end_magic[1].bad_end_magic = true;
  std::vector<uint8_t> cut = uf2_file(family_blocks(3));
  cut.resize(cut.size() - 100);
  std::vector<TestBlock> no_family = family_blocks(2);
  for (TestBlock& b : no_family) b.has_family = false;
  std::vector<TestBlock> other_short = family_blocks(2, kOther);
  other_short.pop_back();
  // Blocks of three families taken in turns, the third without a family id.
  std::vector<TestBlock> interleaved;
  for (uint32_t n = 0; n < 4; ++n) {
    interleaved.push_back({n, 4, true, kOther});
    interleaved.push_back({3 - n, 4});
    interleaved.push_back({n, 4, false});
  }
  std::vector<TestBlock> interleaved_twice = interleaved;
  interleaved_twice[11].number = 0;  // the blocks without an id: 0 1 2 0

  const std::vector<CheckCase> cases = {
      {"one family in order", uf2_file(family_blocks(3)), nullptr},
      {"blocks in any order", uf2_file(shuffled), nullptr},
      {"two families, each complete", uf2_file(concat(family_blocks(3), family_blocks(2, kOther))),
       nullptr},
      {"blocks without a family id", uf2_file(no_family), nullptr},
      {"a block missing", uf2_file(missing), "block 57 of 1200 missing (family 0xE48BFF56 (RP2040))"},
      {"a block twice", uf2_file(twice), "block 1 of 4 appears twice (family 0xE48BFF56 (RP2040))"},
      {"counts disagree", uf2_file(recount),
       "block 1 of the file says the image has 4 blocks, earlier ones said 3 (family 0xE48BFF56 (RP2040))"},
      {"a number beyond the count", uf2_file(beyond),
       "block 2 of the file is numbered 3, beyond its count of 3 (family 0xE48BFF56 (RP2040))"},
      {"payload too large", uf2_file(fat_payload),
       "block 1 of the file carries 477 payload bytes, more than 476"},
      {"magic number missing", uf2_file(no_end_magic),
       "block 1 of the file lacks the UF2 magic numbers"},
      {"cut inside a block", cut, "its size, 1436 bytes, is not a multiple of 512"},
      {"families in turns", uf2_file(interleaved), nullptr},
      {"families in turns, one block twice", uf2_file(interleaved_twice),
       "block 0 of 4 appears twice (blocks without a family id)"},
      {"second family incomplete",
       uf2_file(concat(family_blocks(3), other_short)), "block 1 of 2 missing (family 0x68ED2B88 (SAMD21))"},
  };
  for (const CheckCase& c : cases) {
    Uf2Map map;
    std::string why;
    const bool ok = check_uf2(c.file.data(), c.file.size(), &map, &why);
    EXPECT_EQ(ok, c.why == nullptr) << c.what << ": " << why;
    if (c.why != nullptr) {
      EXPECT_EQ(why, c.why) << c.what;
    }
  }
}

TEST(Uf2Check, MapsWhereEachFamilyEndsAndWhoItIsFor) {
  const std::vector<uint8_t> file = uf2_file(concat(family_blocks(3), family_blocks(2, kOther)));
  Uf2Map map;
  std::string why;
  ASSERT_TRUE(check_uf2(file.data(), file.size(), &map, &why)) << why;
  ASSERT_EQ(map.families.size(), 2u);
  EXPECT_EQ(map.families[0].end, 3u * 512);
  EXPECT_EQ(map.families[1].end, 5u * 512);
  // The board's family is complete once its three blocks are in; the other
  // one needs the whole file.
  EXPECT_FALSE(some_family_within(map, 3 * 512 - 1));
  EXPECT_TRUE(some_family_within(map, 3 * 512));
  EXPECT_TRUE(has_blocks_for(map, kBoard));
  EXPECT_TRUE(has_blocks_for(map, kOther));
  EXPECT_FALSE(has_blocks_for(map, 0x00ff6919));

  // Every block a family of its own, as many as there are blocks.
  std::vector<TestBlock> own;
  for (uint32_t n = 0; n < 3000; ++n) own.push_back({0, 1, true, 0x10000000 + 7 * n});
  const std::vector<uint8_t> own_file = uf2_file(own);
  ASSERT_TRUE(check_uf2(own_file.data(), own_file.size(), &map, &why)) << why;
  ASSERT_EQ(map.families.size(), 3000u);
  EXPECT_EQ(map.families[2999].id, 0x10000000u + 7 * 2999);
  EXPECT_EQ(map.families[2999].end, 3000u * 512);
  EXPECT_EQ(map.families[1].end, 2u * 512);

  uint32_t family = 0;
  EXPECT_TRUE(block_family(file.data() + 3 * 512, 512, &family));
  EXPECT_EQ(family, kOther);
  EXPECT_FALSE(starts_with_uf2_block(file.data(), 511));
  const std::vector<uint8_t> plain(512, 'x');
  EXPECT_FALSE(starts_with_uf2_block(plain.data(), plain.size()));
}

// Which files are taken for UF2 files, and so checked whole: a first block
// with two of its three magic numbers is a damaged UF2 block, which the
// check then refuses; one magic number alone is a coincidence.
TEST(Uf2Check, AFirstBlockWithTwoMagicNumbersMakesAUf2FileThatTheCheckRefuses) {
  const std::vector<uint8_t> sound = uf2_file(family_blocks(8));
  auto damaged = [&](std::vector<size_t> offsets) {
    std::vector<uint8_t> file = sound;
    for (size_t at : offsets) file[at] ^= 0xFF;
    return file;
  };
  const std::vector<uint8_t> short_start(sound.begin(), sound.begin() + 100);
  const std::vector<uint8_t> short_half(sound.begin(), sound.begin() + 6);
  std::vector<uint8_t> short_one_magic = short_start;
  short_one_magic[4] ^= 0xFF;
  const std::string no_magic = "block 0 of the file lacks the UF2 magic numbers";
  struct HeadCase {
    const char* what;
    std::vector<uint8_t> file;
    bool uf2;
    std::string why;  // what the check says; empty: it accepts the file
  };
  const HeadCase cases[] = {
      {"a sound file", sound, true, ""},
      {"a bad end magic", damaged({508}), true, no_magic},
      {"a bad first start magic", damaged({0}), true, no_magic},
      {"a bad second start magic", damaged({7}), true, no_magic},
      {"only the end magic", damaged({0, 4}), false, no_magic},
      {"only the first start magic", damaged({4, 508}), false, no_magic},
      {"no magic at all", damaged({0, 4, 508}), false, no_magic},
      {"shorter than a block, with the start magics", short_start, true,
       "its size, 100 bytes, is not a multiple of 512"},
      {"shorter than a block, one start magic", short_one_magic, false,
       "its size, 100 bytes, is not a multiple of 512"},
      {"shorter than the start magics", short_half, false,
       "its size, 6 bytes, is not a multiple of 512"},
  };
  for (const HeadCase& c : cases) {
    EXPECT_EQ(looks_like_uf2(c.file.data(), std::min<size_t>(c.file.size(), 512)), c.uf2)
        << c.what;
    Uf2Map map;
    std::string why;
    EXPECT_EQ(check_uf2(c.file.data(), c.file.size(), &map, &why), c.why.empty()) << c.what;
    EXPECT_EQ(why, c.why) << c.what;
  }
}

// The size alone refuses a file before it is read: more than 256 MiB, or not
// whole blocks.
TEST(Uf2Check, TheSizeAloneRefusesAFileTooLargeForAnyBoard) {
  const std::string large = "is more than 256 MiB, far more than any board's flash";
  const struct {
    uint64_t size;
    std::string why;  // empty: the size is fine
  } cases[] = {
      {512, ""},
      {kMaxUf2FileSize, ""},
      {kMaxUf2FileSize + 512, "its size, 268435968 bytes, " + large},
      {1ull << 30, "its size, 1073741824 bytes, " + large},
      {kMaxUf2FileSize + 1, "its size, 268435457 bytes, " + large},
      {0, "its size, 0 bytes, is not a multiple of 512"},
      {1000, "its size, 1000 bytes, is not a multiple of 512"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(check_uf2_size(c.size, &why), c.why.empty()) << c.size;
    EXPECT_EQ(why, c.why) << c.size;
  }
}

}  // namespace
