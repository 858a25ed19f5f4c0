#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace {

// hidapi turns the board's UTF-8 strings into wide characters with mbstowcs,
// which follows the C library's character type: after use_utf8_character_type a
// manufacturer or serial number beyond ASCII converts in full.
TEST(Utf8CharacterType, LetsTheCLibraryConvertUtf8WithoutChangingNumbers) {
  setlocale(LC_ALL, "C");
  use_utf8_character_type();
  wchar_t wide[8] = {};
  EXPECT_EQ(mbstowcs(wide, "Zo\xc3\xab-\xe4\xb8\xad", 8), 5u);
  EXPECT_EQ(std::wstring(wide), L"Zo\u00eb-\u4e2d");
  EXPECT_STREQ(localeconv()->decimal_point, ".");
}

}  // namespace
