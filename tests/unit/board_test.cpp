#include "drive/board.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "uf2_builder.h"

namespace {

constexpr uint32_t kRp2040 = 0xE48BFF56;
constexpr uint32_t kSamd21 = 0x68ED2B88;

InfoUf2 info_of(const std::string& text) {
  return parse_info_uf2(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string fields_of(const InfoUf2& info) {
  std::string text = info.bootloader;
  for (const auto& field : info.fields) text += "|" + field.first + "=" + field.second;
  return text;
}

TEST(InfoUf2, FirstLineNamesTheBootloaderOthersAreKeyValuePairs) {
  const struct {
    const char* what;
    std::string text;
    const char* fields;
  } cases[] = {
      {"boot ROM, CR LF", "UF2 Bootloader v3.0\r\nModel: Raspberry Pi RP2\r\nBoard-ID: RPI-RP2\r\n",
       "UF2 Bootloader v3.0|Model=Raspberry Pi RP2|Board-ID=RPI-RP2"},
      {"CR only, spaces trimmed", "Boot v1\r  Model :  Feather  \rFlash Size: 256 KB",
       "Boot v1|Model=Feather|Flash Size=256 KB"},
      {"colons in the value, lines without one, a key again",
       "Boot v2\nDate: 12:30:01\nno colon here\n: no key\ndate: later\n",
       "Boot v2|Date=12:30:01"},
      {"only what a few KiB hold", "Boot\nModel: " + std::string(5000, 'x') + "\nBoard-ID: late\n",
       ""},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    std::string expected = c.fields;
    if (expected.empty() && !c.text.empty()) expected = "Boot|Model=" + std::string(4096 - 12, 'x');
    EXPECT_EQ(fields_of(info_of(c.text)), expected) << c.what;
  }
}

std::string families_of(const BoardFacts& facts) {
  std::string text;
  char id[16];
  for (uint32_t family : facts.families) {
    snprintf(id, sizeof id, "%s%08X", text.empty() ? "" : " ", static_cast<unsigned>(family));
    text += id;
  }
  return text;
}

TEST(BoardFacts, FromTheDriveAndTheBoardsTheToolKnows) {
  const std::vector<uint8_t> samd_current = uf2_file(family_blocks(2, kSamd21));
  const struct {
    const char* what;
    const char* info;  // nullptr: no INFO_UF2.TXT
    const std::vector<uint8_t>* current;
    const char* families;
    int needs_id;  // -1 unknown
    uint64_t flash_size, flash_start, app_start;  // 0: unknown
  } cases[] = {
      {"RP2040 boot ROM", "UF2 Bootloader v3.0\nModel: Raspberry Pi RP2\nBoard-ID: RPI-RP2\n",
       nullptr, "E48BFF56", 1, 0, 0x10000000, 0x10000000},
      {"RP2350 boot ROM, any case", "UF2 Bootloader v1.0\nBoard-ID: rp2350\n", nullptr,
       "E48BFF59 E48BFF5A E48BFF5B E48BFF57", 1, 0, 0x10000000, 0x10000000},
      {"the table outranks CURRENT.UF2", "Boot\nBoard-ID: RPI-RP2\n", &samd_current, "E48BFF56", 1,
       0, 0x10000000, 0x10000000},
      {"another board with CURRENT.UF2", "Boot\nBoard-ID: SAMD21G18A-Feather-v0\nFlash Size: 256 KB\n",
       &samd_current, "68ED2B88", -1, 256 * 1024, 0, 0},
      {"CURRENT.UF2 alone", nullptr, &samd_current, "68ED2B88", -1, 0, 0, 0},
      {"flash in K", "Boot\nFlash Size: 2048K\n", nullptr, "", -1, 2 << 20, 0, 0},
      {"flash in MiB", "Boot\nFlash Size: 2 MiB\n", nullptr, "", -1, 2 << 20, 0, 0},
      {"flash in hexadecimal bytes", "Boot\nFlash Size: 0x80000\n", nullptr, "", -1, 0x80000, 0, 0},
      {"flash in bytes", "Boot\nFlash Size: 0262144\n", nullptr, "", -1, 262144, 0, 0},
      {"flash unreadable", "Boot\nFlash Size: large\n", nullptr, "", -1, 0, 0, 0},
      {"flash with an unknown unit", "Boot\nFlash Size: 2 GB\n", nullptr, "", -1, 0, 0, 0},
      {"flash of zero", "Boot\nFlash Size: 0K\n", nullptr, "", -1, 0, 0, 0},
      {"nothing", nullptr, nullptr, "", -1, 0, 0, 0},
  };
  for (const auto& c : cases) {
    const InfoUf2 info = info_of(c.info == nullptr ? "" : c.info);
    const BoardFacts facts =
        board_facts(c.info == nullptr ? nullptr : &info, c.current ? c.current->data() : nullptr,
                    c.current ? std::min<size_t>(c.current->size(), 512) : 0);
    EXPECT_EQ(families_of(facts), c.families) << c.what;
    EXPECT_EQ(facts.needs_family_id ? int(*facts.needs_family_id) : -1, c.needs_id) << c.what;
    EXPECT_EQ(facts.flash_size.value_or(0), c.flash_size) << c.what;
    EXPECT_EQ(facts.flash_start.value_or(0), c.flash_start) << c.what;
    EXPECT_EQ(facts.app_start.value_or(0), c.app_start) << c.what;
  }
  const InfoUf2 info = info_of("Boot\nFlash Size: 2048K\n");
  EXPECT_EQ(board_facts(&info, nullptr, 0).flash_size_from, "Flash Size: 2048K in INFO_UF2.TXT");
}

std::vector<TestBlock> concat(std::vector<TestBlock> a, const std::vector<TestBlock>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<TestBlock> without_id(std::vector<TestBlock> blocks) {
  for (TestBlock& b : blocks) b.has_family = false;
  return blocks;
}

std::vector<TestBlock> small_payloads(std::vector<TestBlock> blocks) {
  for (TestBlock& b : blocks) b.payload = 16;
  return blocks;
}

BoardFacts facts_for(std::vector<uint32_t> families, std::optional<bool> needs_id,
                     std::optional<uint64_t> flash_size, std::optional<uint64_t> flash_start) {
  BoardFacts facts;
  facts.families = std::move(families);
  facts.needs_family_id = needs_id;
  facts.flash_size = flash_size;
  if (flash_size) facts.flash_size_from = "Flash Size: 1K in INFO_UF2.TXT";
  facts.flash_start = flash_start;
  return facts;
}

TEST(BoardCheck, NotesWhatIsUselessAndRefusesWhatWouldNotFit) {
  const BoardFacts rp2040 = facts_for({kRp2040}, true, std::nullopt, 0x10000000);
  const BoardFacts rp2350 =
      facts_for({0xE48BFF59, 0xE48BFF5A}, true, std::nullopt, 0x10000000);
  const BoardFacts small_rp = facts_for({kRp2040}, true, 1024, 0x10000000);
  const BoardFacts small_samd = facts_for({kSamd21}, std::nullopt, 1024, std::nullopt);
  const BoardFacts small_unknown = facts_for({}, std::nullopt, 1024, std::nullopt);
  const char* kNoBlock = "Note: the board runs family 0xE48BFF56 (RP2040) and fw.uf2 has no block for it";
  const struct {
    const char* what;
    std::vector<TestBlock> blocks;
    const BoardFacts& facts;
    std::vector<std::string> notes;
    const char* refusal;  // nullptr: not refused
    const char* not_taken = "";
  } cases[] = {
      {"nothing known", family_blocks(9, kSamd21), BoardFacts(), {}, nullptr},
      {"its family", family_blocks(3), rp2040, {}, nullptr},
      {"another family", family_blocks(3, kSamd21), rp2040, {kNoBlock}, nullptr,
       "the board runs family 0xE48BFF56 (RP2040) and fw.uf2 has none"},
      {"none of several", family_blocks(3), rp2350,
       {"Note: the board runs families 0xE48BFF59 (RP2350_ARM_S) and 0xE48BFF5A (RP2350_RISCV) "
        "and fw.uf2 has no block for any of them"},
       nullptr,
       "the board runs families 0xE48BFF59 (RP2350_ARM_S) and 0xE48BFF5A (RP2350_RISCV) and "
       "fw.uf2 has none"},
      {"no family id where one is needed", without_id(family_blocks(2)), rp2040,
       {"Note: the board ignores blocks without a family id, and fw.uf2 has 2 of them"}, nullptr,
       "the board ignores blocks without a family id, and fw.uf2 has no other"},
      {"no family id beside its family", concat(family_blocks(2), without_id(family_blocks(1))),
       rp2040, {"Note: the board ignores blocks without a family id, and fw.uf2 has 1 of them"},
       nullptr},
      {"no family id where none is needed", without_id(family_blocks(2)), small_samd, {}, nullptr},
      {"fills the flash exactly", family_blocks(4), small_rp, {}, nullptr},
      {"more payload than flash", family_blocks(5), small_rp, {},
       "Refused UF2 file fw.uf2: its 5 blocks for family 0xE48BFF56 (RP2040) carry 1280 payload "
       "bytes, more than the board's flash of 1024 bytes (Flash Size: 1K in INFO_UF2.TXT)"},
      {"addresses past the flash", small_payloads(family_blocks(5)), small_rp, {},
       "Refused UF2 file fw.uf2: its 5 blocks for family 0xE48BFF56 (RP2040) write up to "
       "0x1000040F, past the end of the board's flash at 0x100003FF (1024 bytes from "
       "0x10000000, Flash Size: 1K in INFO_UF2.TXT)"},
      {"a family the board ignores may be large",
       concat(family_blocks(9), family_blocks(2, kSamd21)), small_samd, {}, nullptr},
      {"blocks without an id count with its family",
       concat(family_blocks(3, kSamd21), without_id(family_blocks(2))), small_samd, {},
       "Refused UF2 file fw.uf2: its 3 blocks for family 0x68ED2B88 (SAMD21) and 2 without a "
       "family id carry 1280 payload bytes, more than the board's flash of 1024 bytes (Flash "
       "Size: 1K in INFO_UF2.TXT)"},
      {"unknown family: a family's blocks may be for another board", family_blocks(9),
       small_unknown, {}, nullptr},
      {"unknown family: every board takes blocks without an id", without_id(family_blocks(5)),
       small_unknown, {},
       "Refused UF2 file fw.uf2: its 5 blocks without a family id carry 1280 payload bytes, more "
       "than the board's flash of 1024 bytes (Flash Size: 1K in INFO_UF2.TXT)"},
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> file = uf2_file(c.blocks);
    const BoardCheck check = check_for_board(uf2_groups(file.data(), file.size()), c.facts, "fw.uf2");
    EXPECT_EQ(check.notes, c.notes) << c.what;
    EXPECT_EQ(check.refused, c.refusal != nullptr) << c.what;
    EXPECT_EQ(check.refusal, c.refusal == nullptr ? "" : c.refusal) << c.what;
    EXPECT_EQ(check.not_taken, c.not_taken) << c.what;
  }
}

}  // namespace
