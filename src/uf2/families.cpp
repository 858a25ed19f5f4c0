#include "uf2/families.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

// The registered UF2 family ids and their short names, in id order.
const Uf2FamilyName kFamilies[] = {
    {0x00FF6919, "STM32L4"},
    {0x04240BDF, "STM32L5"},
    {0x06D1097B, "STM32F411xC"},
    {0x11DE784A, "M0SENSE"},
    {0x16573617, "ATMEGA32"},
    {0x1851780A, "SAML21"},
    {0x1B57745F, "NRF52"},
    {0x1C5F21B0, "ESP32"},
    {0x1E1F432D, "STM32L1"},
    {0x202E3A91, "STM32L0"},
    {0x21460FF0, "STM32WL"},
    {0x22E0D6FC, "RTL8710B"},
    {0x2ABC77EC, "LPC55"},
    {0x2B88D29C, "ESP32C2"},
    {0x2DC309C5, "STM32F411xE"},
    {0x300F5633, "STM32G0"},
    {0x3101F7C1, "ESP32S31"},
    {0x31D228C6, "GD32F350"},
    {0x332726F6, "ESP32H2"},
    {0x3379CFE2, "RTL8720D"},
    {0x3D308E94, "ESP32P4"},
    {0x4B684D71, "MaixPlay-U4"},
    {0x4C71240A, "STM32G4"},
    {0x4E8F1C5D, "STM32H5"},
    {0x4F6ACE52, "CSK4"},
    {0x4FB2D5BD, "MIMXRT10XX"},
    {0x51E903A8, "XR809"},
    {0x53B80F00, "STM32F7"},
    {0x540DDF62, "ESP32C6"},
    {0x55114460, "SAMD51"},
    {0x57755A57, "STM32F4"},
    {0x5A18069B, "FX2"},
    {0x5D1A0A2E, "STM32F2"},
    {0x5EE21072, "STM32F1"},
    {0x621E937A, "NRF52833"},
    {0x647824B6, "STM32F0"},
    {0x675A40B0, "BK7231U"},
    {0x68ED2B88, "SAMD21"},
    {0x699B62EC, "CH32V"},
    {0x6A82CC42, "BK7251"},
    {0x6B846188, "STM32F3"},
    {0x6D0922FA, "STM32F407"},
    {0x6DB66082, "STM32H7"},
    {0x6E7348A8, "CSK6"},
    {0x6F752678, "NRF52832xxAB"},
    {0x70D16653, "STM32WB"},
    {0x72721D4E, "NRF52832xxAA"},
    {0x7410520A, "MAX32690"},
    {0x77D850C4, "ESP32C61"},
    {0x7B3EF230, "BK7231N"},
    {0x7BE8976D, "RA4M1"},
    {0x7D7A66EF, "PY32F071-UVK5-V3"},
    {0x7EAB61ED, "ESP8266"},
    {0x7F83E793, "KL32L2"},
    {0x820D9A5F, "NRF52820"},
    {0x8FB060FE, "STM32F407VG"},
    {0x91D3FD18, "MAX78002"},
    {0x9517422F, "RZA1LU"},
    {0x9AF03E33, "GD32VF103"},
    {0x9E0BAA8A, "ESP32H4"},
    {0x9FFFD543, "RTL8710A"},
    {0xA0C97B8E, "AT32F415"},
    {0xADA52840, "NRF52840"},
    {0xB6DD00AF, "ESP32H21"},
    {0xBFDD4EEE, "ESP32S2"},
    {0xC47E5767, "ESP32S3"},
    {0xD42BA06C, "ESP32C3"},
    {0xD63F8632, "MAX32650"},
    {0xDE1270B7, "BL602"},
    {0xE08F7564, "RTL8720C"},
    {0xE48BFF56, "RP2040"},
    {0xE48BFF57, "RP2XXX_ABSOLUTE"},
    {0xE48BFF58, "RP2XXX_DATA"},
    {0xE48BFF59, "RP2350_ARM_S"},
    {0xE48BFF5A, "RP2350_RISCV"},
    {0xE48BFF5B, "RP2350_ARM_NS"},
    {0xF0C30D71, "MAX32666"},
    {0xF71C0343, "ESP32C5"},
};

// Letters compared without case, '-' and '_' alike.
char fold(char c) {
  if (c == '-') return '_';
  return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool same_name(const char* typed, const char* name) {
  for (; *typed != '\0' && *name != '\0'; ++typed, ++name) {
    if (fold(*typed) != fold(*name)) return false;
  }
  return *typed == '\0' && *name == '\0';
}

// One to eight hexadecimal digits, with or without 0x, and nothing else.
bool read_hex_id(const char* text, uint32_t* id) {
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
  const size_t digits = std::strlen(text);
  if (digits == 0 || digits > 8) return false;
  uint32_t value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (!std::isxdigit(static_cast<unsigned char>(*p))) return false;
    const int digit = std::isdigit(static_cast<unsigned char>(*p)) ? *p - '0' : fold(*p) - 'A' + 10;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  *id = value;
  return true;
}

}  // namespace

const Uf2FamilyName* uf2_family_table(size_t* count) {
  *count = sizeof kFamilies / sizeof kFamilies[0];
  return kFamilies;
}

const char* uf2_family_name(uint32_t id) {
  for (const Uf2FamilyName& family : kFamilies) {
    if (family.id == id) return family.name;
  }
  return nullptr;
}

bool parse_uf2_family(const char* text, uint32_t* id) {
  for (const Uf2FamilyName& family : kFamilies) {
    if (same_name(text, family.name)) {
      *id = family.id;
      return true;
    }
  }
  return read_hex_id(text, id);
}

std::string uf2_family_hex(uint32_t id) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(id));
  return text;
}

std::string uf2_family_label(uint32_t id) {
  const char* name = uf2_family_name(id);
  return name == nullptr ? uf2_family_hex(id) : uf2_family_hex(id) + " (" + name + ")";
}
