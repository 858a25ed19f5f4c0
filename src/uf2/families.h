// The UF2 chip families the tool knows by name: each registered family id
// with its short name.
#ifndef FLASHDROP_UF2_FAMILIES_H_
#define FLASHDROP_UF2_FAMILIES_H_

#include <cstddef>
#include <cstdint>
#include <string>

struct Uf2FamilyName {
  uint32_t id;
  const char* name;  // the short name, as registered ("RP2350_ARM_S")
};

// The whole table, in id order; `count` receives its length.
const Uf2FamilyName* uf2_family_table(size_t* count);

// The short name of family `id`, or nullptr for an id the table lacks.
const char* uf2_family_name(uint32_t id);

// Reads a family as a user types it: a short name in any letter case, with
// '-' and '_' alike ("rp2350-arm-s"), or one to eight hexadecimal digits with
// or without 0x. False when it is neither.
bool parse_uf2_family(const char* text, uint32_t* id);

// "0xE48BFF56", the id alone.
std::string uf2_family_hex(uint32_t id);

// "0xE48BFF56 (RP2040)", or "0x12345678" for a family without a name.
std::string uf2_family_label(uint32_t id);

#endif  // FLASHDROP_UF2_FAMILIES_H_
