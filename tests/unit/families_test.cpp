#include "uf2/families.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

namespace {

TEST(Uf2Families, NamesAndIdsAsUsersTypeThem) {
  const struct {
    const char* typed;
    bool ok;
    uint32_t id;
  } cases[] = {
      {"RP2040", true, 0xE48BFF56},       {"rp2350-arm-s", true, 0xE48BFF59},
      {"Rp2350_Arm_Ns", true, 0xE48BFF5B}, {"maixplay_u4", true, 0x4B684D71},
      {"MaixPlay-U4", true, 0x4B684D71},  {"0xE48BFF56", true, 0xE48BFF56},
      {"e48bff56", true, 0xE48BFF56},     {"0X2a", true, 0x2A},
      {"12345678", true, 0x12345678},     {"RP2041", false, 0},
      {"RP2040 ", false, 0},              {"0x", false, 0},
      {"123456789", false, 0},            {"0x1g", false, 0},
      {"", false, 0},                     {"RP2350ARMS", false, 0},
  };
  for (const auto& c : cases) {
    uint32_t id = 0;
    EXPECT_EQ(parse_uf2_family(c.typed, &id), c.ok) << c.typed;
    if (c.ok) {
      EXPECT_EQ(id, c.id) << c.typed;
    }
  }
  EXPECT_EQ(uf2_family_label(0xE48BFF5A), "0xE48BFF5A (RP2350_RISCV)");
  EXPECT_EQ(uf2_family_label(0x0000002A), "0x0000002A");
}

// The registered families, as published beside the project; a clone without
// that file has nothing to compare with.
TEST(Uf2Families, TableHoldsEveryRegisteredFamily) {
  FILE* file = fopen(FLASHDROP_FAMILIES_JSON, "rb");
  if (file == nullptr) GTEST_SKIP() << FLASHDROP_FAMILIES_JSON << " is absent";
  std::string text;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  fclose(file);
  const std::regex entry("\"id\"\\s*:\\s*\"(0x[0-9A-Fa-f]+)\"\\s*,\\s*\"short_name\"\\s*:\\s*\"([^\"]*)\"");
  size_t registered = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), entry), end; it != end; ++it) {
    ++registered;
    const uint32_t id = static_cast<uint32_t>(std::stoul((*it)[1].str(), nullptr, 16));
    const char* name = uf2_family_name(id);
    ASSERT_NE(name, nullptr) << (*it)[1].str();
    EXPECT_EQ(std::string(name), (*it)[2].str());
  }
  size_t count;
  uf2_family_table(&count);
  EXPECT_GT(registered, 50u);
  EXPECT_EQ(count, registered);
}

}  // namespace
